#include "bridgesimulator.h"
#include "optionsparser.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <csignal>

namespace {

constexpr int usageError = 2;
constexpr int startError = 1;

// Ctrl-C and kill end the event loop, so the record is closed properly.
void quitOnSignal(int)
{
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bridgesim"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    OptionsParser parser;
    switch (parser.parse(QCoreApplication::arguments())) {
    case OptionsParser::Outcome::Help:
        out << parser.helpText();
        return 0;
    case OptionsParser::Outcome::Error:
        err << "bridgesim: " << parser.errorText() << "\n(see bridgesim --help)\n";
        return usageError;
    case OptionsParser::Outcome::Run:
        break;
    }

    const SimOptions &options = parser.options();
    BridgeSimulator simulator(options);
    QString error;
    if (!simulator.start(&error)) {
        err << "bridgesim: " << error << '\n';
        return startError;
    }
    err << "bridgesim: " << OptionsParser::scenarioName(options.scenario) << " on "
        << options.bindAddress.toString() << ':' << simulator.localPort() << '\n';
    err.flush();

    std::signal(SIGINT, quitOnSignal);
    std::signal(SIGTERM, quitOnSignal);
    if (options.durationMs > 0)
        QTimer::singleShot(options.durationMs, &app, &QCoreApplication::quit);
    return app.exec();
}
