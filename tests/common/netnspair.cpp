#include "netnspair.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThreadPool>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

int pairSerial = 0;

} // namespace

NetnsPair::NetnsPair(const QString &bridgeAddress, const QStringList &dashboardAddresses)
{
    const QString id = QStringLiteral("%1x%2").arg(QCoreApplication::applicationPid()).arg(++pairSerial);
    bridge = QStringLiteral("motrel-b") + id;
    dashboard = QStringLiteral("motrel-d") + id;
    const QString bridgeLink = QStringLiteral("mb") + id;
    const QString dashboardLink = QStringLiteral("md") + id;
    originalNamespace = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (geteuid() != 0 || originalNamespace < 0) {
        problem = QStringLiteral("network namespaces need root");
        return;
    }
    ready = run({"netns", "add", bridge}) && run({"netns", "add", dashboard})
        && run({"link", "add", bridgeLink, "netns", bridge, "type", "veth", "peer", "name", dashboardLink, "netns",
                dashboard})
        && run({"-n", bridge, "link", "set", "lo", "up"}) && run({"-n", dashboard, "link", "set", "lo", "up"})
        && run({"-n", bridge, "addr", "add", bridgeAddress, "dev", bridgeLink, "nodad"});
    for (const QString &address : dashboardAddresses)
        ready = ready && run({"-n", dashboard, "addr", "add", address, "dev", dashboardLink, "nodad"});
    ready = ready && run({"-n", bridge, "link", "set", bridgeLink, "up"})
        && run({"-n", dashboard, "link", "set", dashboardLink, "up"});
}

NetnsPair::~NetnsPair()
{
    if (originalNamespace >= 0) {
        ::setns(originalNamespace, CLONE_NEWNET);
        ::close(originalNamespace);
    }
    // Deleting either namespace removes the veth pair with it.
    QProcess::execute(QStringLiteral("ip"), {"netns", "del", bridge});
    QProcess::execute(QStringLiteral("ip"), {"netns", "del", dashboard});
}

bool NetnsPair::run(const QStringList &arguments)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(QStringLiteral("ip"), arguments);
    if (ip.waitForFinished() && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0)
        return true;
    problem = QStringLiteral("ip %1: %2").arg(arguments.join(' '), QString::fromLocal8Bit(ip.readAll()).trimmed());
    return false;
}

bool NetnsPair::enter(const QString &name)
{
    const QByteArray path = QByteArrayLiteral("/run/netns/") + name.toLatin1();
    const int target = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (target < 0)
        return false;
    const bool entered = ::setns(target, CLONE_NEWNET) == 0;
    ::close(target);
    // A thread stays in the namespace it was born in: the pool's threads end here, and new ones
    // are born after the move.
    QThreadPool::globalInstance()->waitForDone();
    return entered;
}
