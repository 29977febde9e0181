#ifndef NETNSPAIR_H
#define NETNSPAIR_H

#include <QString>
#include <QStringList>

// Two private network namespaces joined by a veth pair: the bridge's side and
// the dashboard's. Nothing in them can reach a real network. Needs root.
class NetnsPair
{
public:
    NetnsPair(const QString &bridgeAddress, const QStringList &dashboardAddresses);
    ~NetnsPair();
    NetnsPair(const NetnsPair &) = delete;
    NetnsPair &operator=(const NetnsPair &) = delete;

    bool isReady() const { return ready; }
    QString failure() const { return problem; }

    // Moves this thread (and every socket and pool thread it creates from now on) into a side.
    bool enterBridge() { return enter(bridge); }
    bool enterDashboard() { return enter(dashboard); }

private:
    bool run(const QStringList &arguments);
    bool enter(const QString &name);

    QString bridge;
    QString dashboard;
    int originalNamespace = -1;
    bool ready = false;
    QString problem;
};

#endif // NETNSPAIR_H
