#include "scenefeed.h"

#include "testaccess.h"

#include <QTimer>

BackEnd &SceneFeed::backEndOf(QObject *scene)
{
    auto *backEnd = scene->findChild<BackEnd *>();
    Q_ASSERT(backEnd);
    return *backEnd;
}

void SceneFeed::receive(QObject *scene, const QString &datagram) const
{
    TestAccess::receive(backEndOf(scene), datagram.toUtf8());
}

void SceneFeed::loseLink(QObject *scene) const
{
    TestAccess::markLinkLost(backEndOf(scene));
}

int SceneFeed::demoDemands(QObject *scene) const
{
    return TestAccess::link(backEndOf(scene)).demoDemand;
}

void SceneFeed::stopPolling(QObject *scene) const
{
    TestAccess::timer(backEndOf(scene))->stop();
}
