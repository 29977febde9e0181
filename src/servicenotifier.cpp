#include "servicenotifier.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QTimer>

#include <limits>

#ifdef MOTREL_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace {

void notifyServiceManager(const char *state)
{
#ifdef MOTREL_HAVE_SYSTEMD
    sd_notify(0, state);
#else
    Q_UNUSED(state)
#endif
}

// Half the watchdog's timeout that the service manager set for this process, or 0 for none.
int feedingIntervalMs()
{
#ifdef MOTREL_HAVE_SYSTEMD
    uint64_t timeoutUs = 0;
    if (sd_watchdog_enabled(0, &timeoutUs) > 0)
        return int(qBound<uint64_t>(1, timeoutUs / 2000, std::numeric_limits<int>::max()));
#endif
    return 0;
}

} // namespace

ServiceNotifier::ServiceNotifier(QObject *parent)
    : QObject(parent), watchdogTimer(new QTimer(this))
{
    connect(watchdogTimer, &QTimer::timeout, this, &ServiceNotifier::feedWatchdog);
}

void ServiceNotifier::watch(QQuickWindow *window)
{
    firstFrame = connect(window, &QQuickWindow::frameSwapped, this, &ServiceNotifier::reportReady);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &ServiceNotifier::reportStopping);
}

void ServiceNotifier::reportReady()
{
    disconnect(firstFrame);
    notifyServiceManager("READY=1");
    // A timer of its own, not a frame: an idle dashboard draws nothing. A stuck event loop, or a
    // render stuck on this thread, stops the feeding and the service manager ends the process.
    const int intervalMs = feedingIntervalMs();
    if (intervalMs > 0)
        watchdogTimer->start(intervalMs);
}

// The teardown that follows feeds no watchdog, and on a busy board it can outlast one (a thread
// waiting on the kernel's network lock holds up the process's end): the service manager bounds
// a stopping service by its stop time-out instead.
void ServiceNotifier::reportStopping()
{
    watchdogTimer->stop();
    notifyServiceManager("STOPPING=1");
}

void ServiceNotifier::feedWatchdog()
{
    notifyServiceManager("WATCHDOG=1");
}
