#include "servicenotifier.h"

#include <QCoreApplication>
#include <QQuickWindow>
#include <QTimer>

#include <limits>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

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

#ifdef Q_OS_UNIX
int terminateSignalSockets[2] = {-1, -1};

void onTerminateSignal(int)
{
    // Only an async-signal-safe write here: the event loop does the rest.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(terminateSignalSockets[0], &byte, 1);
}
#endif

} // namespace

ServiceNotifier::ServiceNotifier(QObject *parent)
    : QObject(parent), watchdogTimer(new QTimer(this))
{
    connect(watchdogTimer, &QTimer::timeout, this, &ServiceNotifier::feedWatchdog);
    quitOnTerminate();
}

// SIGTERM, the service manager's stop, ends the event loop as EXIT does: the teardown runs and
// the status is 0. Installed after the platform's own handler, which on linuxfb ends with 1.
void ServiceNotifier::quitOnTerminate()
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, terminateSignalSockets) != 0)
        return;
    auto *notifier = new QSocketNotifier(terminateSignalSockets[1], QSocketNotifier::Read, this);
    connect(notifier, SIGNAL(activated(int)), qApp, SLOT(quit()));
    struct sigaction action = {};
    action.sa_handler = onTerminateSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
#endif
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
