#ifndef BRIDGESIMULATOR_H
#define BRIDGESIMULATOR_H

#include "capturelog.h"
#include "scenario.h"
#include "simoptions.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QRandomGenerator>

#include <deque>

class QTimer;
class QUdpSocket;

// The simulated bridge on the wire: answers probes, waits for the dashboard's reply,
// streams what its Scenario says, and records every datagram both ways.
class BridgeSimulator : public QObject
{
    Q_OBJECT

public:
    explicit BridgeSimulator(const SimOptions &options, QObject *parent = nullptr);

    bool start(QString *error);
    quint16 localPort() const;
    bool isStreaming() const { return streaming; }

private slots:
    void readPending();
    void streamTick();
    void sendDue();

private:
    void handleDatagram(const QByteArray &datagram, const QHostAddress &sender, quint16 senderPort);
    void startStreaming();
    qint64 streamMs() const;
    void send(const QByteArray &datagram);
    void transmit(const QByteArray &datagram);
    void record(CaptureRecord::Direction direction, const QByteArray &bytes);

    SimOptions options;
    Scenario scenario;
    CaptureLog log;
    QUdpSocket *socket = nullptr;
    QTimer *streamTimer = nullptr;
    QHostAddress peerAddress;
    quint16 peerPort = 0;
    bool streaming = false;
    QElapsedTimer streamClock;
    qint64 previousTickMs = -1;
    // Latency and jitter never reorder datagrams: each leaves no earlier than the one before.
    struct Outgoing
    {
        qint64 dueMs;
        QByteArray datagram;
    };
    std::deque<Outgoing> outbox;
    QTimer *outboxTimer = nullptr;
    QElapsedTimer sendClock;
    QRandomGenerator random;
};

#endif // BRIDGESIMULATOR_H
