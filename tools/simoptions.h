#ifndef SIMOPTIONS_H
#define SIMOPTIONS_H

#include "drivers.h"
#include "ecuframe.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QVector>

// What the simulator does, as chosen on its command line.
struct SimOptions
{
    enum class Scenario { Drive, Fixed, Silence, Vanish, Split, Malformed, Reident, Replay, Listen, Quiet };

    Scenario scenario = Scenario::Drive;
    QHostAddress bindAddress = QHostAddress::AnyIPv4;
    quint16 port = BridgeProtocol::port;
    // Where to stream before (or instead of) a probe; null until a probe names the dashboard.
    QHostAddress peerAddress;
    quint16 peerPort = BridgeProtocol::port;
    QByteArray identification = "SN:BRIDGESIM ID:4242 FW:1.0 SIMULATOR";
    double rateHz = 5.0;
    int latencyMs = 0;
    int jitterMs = 0;
    // The constant frame of the fixed scenario, and of the others when `fixedFrame` is set.
    QByteArray frameBytes = EcuFrame().bytes();
    bool fixedFrame = false;
    int activeMs = 4000;
    int gapMs = 8000;
    int parts = 2;
    // Byte offsets where split cuts each frame line instead of between tokens.
    QVector<int> cuts;
    // Every this many frames, split loses a piece on the way, two in a row, or sends one twice; 0: none.
    int loseEvery = 0;
    int everyMs = 10000;
    QString capturePath;
    QString recordPath;
    int durationMs = 0;
};

#endif // SIMOPTIONS_H
