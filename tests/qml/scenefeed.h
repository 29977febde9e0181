#ifndef SCENEFEED_H
#define SCENEFEED_H

#include <QObject>

class BackEnd;

// Lets Quick tests drive the scene's own BackEnd as the bridge would,
// without a socket or the poll timer getting in the way.
class SceneFeed : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE void receive(QObject *scene, const QString &datagram) const;
    Q_INVOKABLE void loseLink(QObject *scene) const;
    Q_INVOKABLE int demoDemands(QObject *scene) const;
    Q_INVOKABLE void stopPolling(QObject *scene) const;

private:
    static BackEnd &backEndOf(QObject *scene);
};

#endif // SCENEFEED_H
