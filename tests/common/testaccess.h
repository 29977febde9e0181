#ifndef TESTACCESS_H
#define TESTACCESS_H

#include "backend.h"
#include "drivers.h"

class QTimer;
class QUdpSocket;

// The one friend of BackEnd and Drivers: lets tests, fuzzers and benchmarks
// drive the back end without a bridge or a running timer.
class TestAccess
{
public:
    static LinkState &link(BackEnd &backEnd) { return *backEnd.drivers->linkState; }
    static EngineData &engine(BackEnd &backEnd) { return *backEnd.engineData; }
    static QUdpSocket *socket(BackEnd &backEnd) { return backEnd.drivers->socket; }
    static QTimer *timer(BackEnd &backEnd) { return backEnd.drivers->timer; }

    // What the socket's notification does with one datagram's bytes.
    static void receive(BackEnd &backEnd, const QByteArray &datagram) { backEnd.drivers->receiveDatagram(datagram); }
    static void decode(BackEnd &backEnd, const QString &text) { backEnd.drivers->decodeEcuFrame(text); }
    static void tick(BackEnd &backEnd) { backEnd.drivers->updateTime(); }
    // A tick on a host known to be off the bridge's network: no address test, so no probe.
    static void tickOffBridgeNetwork(BackEnd &backEnd)
    {
        Drivers &drivers = *backEnd.drivers;
        if (drivers.inDemoMode())
            drivers.runDemoTick();
        else
            drivers.countSilentTick();
    }
    // Back to a new back end's state, keeping its socket and timer; `list` is a new one's list.
    static void reset(BackEnd &backEnd, const DeviceInfoList &list)
    {
        *backEnd.drivers->linkState = LinkState();
        backEnd.drivers->demoSpeed = 0;
        backEnd.drivers->demoRpm = 0;
        *backEnd.engineData = EngineData();
        backEnd.infoList = list;
    }

    static void refresh(BackEnd &backEnd) { backEnd.refreshFromEngineData(); }
    static void markLinkAlive(BackEnd &backEnd) { backEnd.markLinkAlive(); }
    static void markLinkLost(BackEnd &backEnd) { backEnd.markLinkLost(); }
};

#endif // TESTACCESS_H
