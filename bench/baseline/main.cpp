// The floor any gauge dashboard on this toolkit pays: a full-screen window holding
// one default CircularGauge, started and rendered the same way as Motrel.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    // --moving sweeps the needle for ever: the floor of a gauge whose needle never rests.
    const bool moving = QGuiApplication::arguments().contains(QStringLiteral("--moving"));
    engine.rootContext()->setContextProperty(QStringLiteral("needleMoving"), moving);
    engine.load(QUrl(QStringLiteral("qrc:/baseline.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;
    return app.exec();
}
