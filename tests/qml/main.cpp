#include "backend.h"
#include "opaquepicture.h"
#include "readout.h"
#include "scenefeed.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

// Prepares the engine as the program does, plus the feed that stands in for the bridge.
class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/DejaVuSans.ttf"));
        QGuiApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), -1, -1, false));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        BackEnd::registerQmlType();
        OpaquePicture::registerQmlType();
        Readout::registerQmlType();
        engine->rootContext()->setContextProperty(QStringLiteral("feed"), new SceneFeed(engine));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(motrel_scene, Setup)

#include "main.moc"
