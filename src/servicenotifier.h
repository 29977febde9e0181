#ifndef SERVICENOTIFIER_H
#define SERVICENOTIFIER_H

#include <QObject>

class QQuickWindow;
class QTimer;

// Tells the service manager (systemd) that the dashboard is on screen and that its GUI thread
// still answers, and quits the application when asked to stop (SIGTERM). Outside a service
// manager, or in a build without libsystemd, it tells nothing.
class ServiceNotifier : public QObject
{
    Q_OBJECT

public:
    explicit ServiceNotifier(QObject *parent = nullptr);

    // Reports ready at WINDOW's first frame, then keeps the service's watchdog fed if it has one,
    // until the application quits.
    void watch(QQuickWindow *window);

private:
    void quitOnTerminate();
    void reportReady();
    void reportStopping();
    void feedWatchdog();

    QTimer *watchdogTimer;
    QMetaObject::Connection firstFrame;
};

#endif // SERVICENOTIFIER_H
