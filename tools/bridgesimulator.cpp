#include "bridgesimulator.h"

#include "drivers.h"

#include <QDeadlineTimer>
#include <QTimer>
#include <QUdpSocket>

BridgeSimulator::BridgeSimulator(const SimOptions &options, QObject *parent)
    : QObject(parent)
    , options(options)
    , scenario(options)
    , socket(new QUdpSocket(this))
    , streamTimer(new QTimer(this))
    , outboxTimer(new QTimer(this))
    , peerAddress(options.peerAddress)
    , peerPort(options.peerPort)
    , random(QRandomGenerator::securelySeeded())
{
    connect(socket, &QUdpSocket::readyRead, this, &BridgeSimulator::readPending);
    connect(streamTimer, &QTimer::timeout, this, &BridgeSimulator::streamTick);
    outboxTimer->setSingleShot(true);
    outboxTimer->setTimerType(Qt::PreciseTimer);
    connect(outboxTimer, &QTimer::timeout, this, &BridgeSimulator::sendDue);
}

bool BridgeSimulator::start(QString *error)
{
    if (options.scenario == SimOptions::Scenario::Replay) {
        QVector<CaptureRecord> capture;
        if (!CaptureLog::read(options.capturePath, &capture, error))
            return false;
        scenario = Scenario(options, capture);
    }
    if (!options.recordPath.isEmpty() && !log.open(options.recordPath, error))
        return false;
    if (!socket->bind(options.bindAddress, options.port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(options.bindAddress.toString())
                     .arg(options.port)
                     .arg(socket->errorString());
        return false;
    }
    sendClock.start();
    if (!peerAddress.isNull())
        startStreaming();
    return true;
}

quint16 BridgeSimulator::localPort() const
{
    return socket->localPort();
}

void BridgeSimulator::readPending()
{
    while (socket->hasPendingDatagrams()) {
        QByteArray datagram(int(qMax<qint64>(0, socket->pendingDatagramSize())), '\0');
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size = socket->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
        if (size < 0)
            return;
        datagram.truncate(int(size));
        record(CaptureRecord::Direction::In, datagram);
        handleDatagram(datagram, sender, senderPort);
    }
}

void BridgeSimulator::handleDatagram(const QByteArray &datagram, const QHostAddress &sender, quint16 senderPort)
{
    if (streaming && scenario.isAway(streamMs()))
        return;
    const QByteArray text = datagram.trimmed();
    if (!scenario.answersProbes()) {
        // A replay starts with the first word from the dashboard; a listener never speaks.
        if (options.scenario == SimOptions::Scenario::Replay && peerAddress.isNull()) {
            peerAddress = sender;
            peerPort = senderPort;
            startStreaming();
        }
        return;
    }
    if (text == BridgeProtocol::probe) {
        peerAddress = sender;
        peerPort = senderPort;
        send(options.identification + BridgeProtocol::lineEnd);
    } else if (text == BridgeProtocol::identificationReply && !peerAddress.isNull()) {
        startStreaming();
    }
}

void BridgeSimulator::startStreaming()
{
    if (streaming)
        return;
    streaming = true;
    streamClock.start();
    previousTickMs = -1;
    streamTimer->start(scenario.tickIntervalMs());
    streamTick();
}

qint64 BridgeSimulator::streamMs() const
{
    return streamClock.isValid() ? streamClock.elapsed() : 0;
}

void BridgeSimulator::streamTick()
{
    const qint64 now = streamMs();
    const QByteArrayList datagrams = scenario.datagramsBetween(previousTickMs, now);
    previousTickMs = now;
    for (const QByteArray &datagram : datagrams)
        send(datagram);
}

void BridgeSimulator::send(const QByteArray &datagram)
{
    const int delay = options.latencyMs + (options.jitterMs > 0 ? int(random.bounded(options.jitterMs + 1)) : 0);
    const qint64 now = sendClock.elapsed();
    const qint64 due = outbox.empty() ? now + delay : qMax(outbox.back().dueMs, now + delay);
    if (due <= now && outbox.empty()) {
        transmit(datagram);
        return;
    }
    outbox.push_back({due, datagram});
    if (!outboxTimer->isActive())
        outboxTimer->start(int(qMax<qint64>(0, outbox.front().dueMs - now)));
}

void BridgeSimulator::sendDue()
{
    const qint64 now = sendClock.elapsed();
    while (!outbox.empty() && outbox.front().dueMs <= now) {
        transmit(outbox.front().datagram);
        outbox.pop_front();
    }
    if (!outbox.empty())
        outboxTimer->start(int(outbox.front().dueMs - now));
}

void BridgeSimulator::transmit(const QByteArray &datagram)
{
    socket->writeDatagram(datagram, peerAddress, peerPort);
    record(CaptureRecord::Direction::Out, datagram);
}

void BridgeSimulator::record(CaptureRecord::Direction direction, const QByteArray &bytes)
{
    // The same clock as CLOCK_MONOTONIC, so a test can line records up with its own timing.
    log.append({QDeadlineTimer::current(Qt::PreciseTimer).deadline(), direction, bytes});
}
