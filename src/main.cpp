#include "backend.h"
#include "opaquepicture.h"
#include "readout.h"
#include "servicenotifier.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QUrl>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    BackEnd::registerQmlType();
    OpaquePicture::registerQmlType();
    Readout::registerQmlType();
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/DejaVuSans.ttf"));
    QGuiApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), -1, -1, false));

    int result = -1;
    {
        QQmlApplicationEngine engine(QUrl(QStringLiteral("qrc:/qml/dashboard.qml")));
        if (!engine.rootObjects().isEmpty()) {
            ServiceNotifier notifier;
            notifier.watch(qobject_cast<QQuickWindow *>(engine.rootObjects().first()));
            result = app.exec();
        }
    }
    return result;
}
