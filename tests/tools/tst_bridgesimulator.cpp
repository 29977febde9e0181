#include "bridgesimulator.h"
#include "capturelog.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QByteArray probe = "0\r\n";
const QByteArray reply = "&TE2=1\r\n";

// The dashboard's side of the conversation, on loopback.
class Dashboard
{
public:
    Dashboard() { socket.bind(QHostAddress(QHostAddress::LocalHost), 0); }

    void send(const QByteArray &datagram, quint16 bridgePort)
    {
        socket.writeDatagram(datagram, QHostAddress::LocalHost, bridgePort);
    }

    // Everything that arrives within `ms`.
    QByteArrayList collect(int ms)
    {
        QByteArrayList received;
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QTest::qWait(5);
            while (socket.hasPendingDatagrams()) {
                QByteArray datagram(int(socket.pendingDatagramSize()), '\0');
                socket.readDatagram(datagram.data(), datagram.size());
                received << datagram;
            }
        }
        return received;
    }

    QByteArray first(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired() && !socket.hasPendingDatagrams())
            QTest::qWait(2);
        QByteArray datagram(int(qMax<qint64>(0, socket.pendingDatagramSize())), '\0');
        socket.readDatagram(datagram.data(), datagram.size());
        return datagram;
    }

    quint16 port() const { return socket.localPort(); }

    QUdpSocket socket;
};

SimOptions loopbackOptions(SimOptions::Scenario kind)
{
    SimOptions options;
    options.scenario = kind;
    options.bindAddress = QHostAddress::LocalHost;
    options.port = 0;
    options.rateHz = 20.0;
    return options;
}

QVector<CaptureRecord> recordsOf(const QString &path)
{
    QVector<CaptureRecord> records;
    QString error;
    if (!CaptureLog::read(path, &records, &error))
        qWarning() << error;
    return records;
}

} // namespace

class TestBridgeSimulator : public QObject
{
    Q_OBJECT

private slots:
    void identifiesThenStreamsAfterTheReply();
    void recordsBothDirectionsOnTheMonotonicClock();
    void latencyDelaysAndJitterKeepsOrder_data();
    void latencyDelaysAndJitterKeepsOrder();
    void replaysARecordedRun();
    void listenerNeverSpeaks();
    void peerOptionStreamsWithoutAProbe();
    void refusesATakenPort();

private:
    QTemporaryDir dir;
};

void TestBridgeSimulator::identifiesThenStreamsAfterTheReply()
{
    SimOptions options = loopbackOptions(SimOptions::Scenario::Fixed);
    options.identification = "SN:TEST ID:77 X Y";
    options.frameBytes = EcuFrame{42, 1000, 200, false, false, false}.bytes();
    options.fixedFrame = true;
    BridgeSimulator simulator(options);
    QString error;
    QVERIFY2(simulator.start(&error), qPrintable(error));
    Dashboard dashboard;

    dashboard.send("hello\r\n", simulator.localPort());
    QCOMPARE(dashboard.collect(200), QByteArrayList{});
    dashboard.send(probe, simulator.localPort());
    QCOMPARE(dashboard.first(1000), QByteArray("SN:TEST ID:77 X Y\r\n"));
    QCOMPARE(dashboard.collect(300), QByteArrayList{});
    QVERIFY(!simulator.isStreaming());

    dashboard.send(reply, simulator.localPort());
    const QByteArrayList frames = dashboard.collect(1000);
    QVERIFY2(frames.size() >= 10 && frames.size() <= 30, qPrintable(QString::number(frames.size())));
    for (const QByteArray &frame : frames)
        QCOMPARE(frame, EcuFrame::line(options.frameBytes));
}

void TestBridgeSimulator::recordsBothDirectionsOnTheMonotonicClock()
{
    SimOptions options = loopbackOptions(SimOptions::Scenario::Drive);
    options.recordPath = dir.filePath(QStringLiteral("both.rec"));
    const qint64 before = QDeadlineTimer::current(Qt::PreciseTimer).deadline();
    {
        BridgeSimulator simulator(options);
        QString error;
        QVERIFY2(simulator.start(&error), qPrintable(error));
        Dashboard dashboard;
        dashboard.send(probe, simulator.localPort());
        dashboard.first(1000);
        dashboard.send(reply, simulator.localPort());
        dashboard.collect(300);
    }
    const qint64 after = QDeadlineTimer::current(Qt::PreciseTimer).deadline();

    const QVector<CaptureRecord> records = recordsOf(options.recordPath);
    QVERIFY(records.size() >= 5);
    QCOMPARE(records.at(0).direction, CaptureRecord::Direction::In);
    QCOMPARE(records.at(0).bytes, probe);
    QVERIFY(records.at(1).bytes.startsWith("SN:"));
    QCOMPARE(records.at(2).bytes, reply);
    QVERIFY(records.at(3).bytes.startsWith("ECU: "));
    qint64 previous = before;
    for (const CaptureRecord &record : records) {
        QVERIFY(record.monotonicMs >= previous && record.monotonicMs <= after);
        previous = record.monotonicMs;
    }
}

void TestBridgeSimulator::latencyDelaysAndJitterKeepsOrder_data()
{
    QTest::addColumn<int>("latency");
    QTest::addColumn<int>("jitter");
    QTest::newRow("latency alone") << 150 << 0;
    QTest::newRow("latency and jitter") << 100 << 80;
}

void TestBridgeSimulator::latencyDelaysAndJitterKeepsOrder()
{
    QFETCH(int, latency);
    QFETCH(int, jitter);
    SimOptions options = loopbackOptions(SimOptions::Scenario::Split);
    options.parts = 4;
    options.latencyMs = latency;
    options.jitterMs = jitter;
    BridgeSimulator simulator(options);
    QString error;
    QVERIFY2(simulator.start(&error), qPrintable(error));
    Dashboard dashboard;

    QElapsedTimer clock;
    clock.start();
    dashboard.send(probe, simulator.localPort());
    QVERIFY(dashboard.first(2000).startsWith("SN:"));
    QVERIFY2(clock.elapsed() >= latency, qPrintable(QString::number(clock.elapsed())));

    dashboard.send(reply, simulator.localPort());
    const QByteArray joined = dashboard.collect(1000).join();
    const QList<QByteArray> lines = joined.split('\n');
    QVERIFY(lines.size() > 5);
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QByteArray line = lines.at(i) + '\n';
        QVERIFY2(line.startsWith("ECU: ") && line.count(' ') == BridgeProtocol::wholeFrameBytes, line.constData());
    }
}

void TestBridgeSimulator::replaysARecordedRun()
{
    SimOptions original = loopbackOptions(SimOptions::Scenario::Malformed);
    original.recordPath = dir.filePath(QStringLiteral("original.rec"));
    QByteArrayList sent;
    {
        BridgeSimulator simulator(original);
        QString error;
        QVERIFY2(simulator.start(&error), qPrintable(error));
        Dashboard dashboard;
        dashboard.send(probe, simulator.localPort());
        sent << dashboard.first(1000);
        dashboard.send(reply, simulator.localPort());
        sent << dashboard.collect(400);
    }

    SimOptions replay = loopbackOptions(SimOptions::Scenario::Replay);
    replay.capturePath = original.recordPath;
    BridgeSimulator simulator(replay);
    QString error;
    QVERIFY2(simulator.start(&error), qPrintable(error));
    Dashboard dashboard;
    dashboard.send(probe, simulator.localPort());
    const QByteArrayList replayed = dashboard.collect(1000);
    QVERIFY(sent.size() > 5);
    QCOMPARE(replayed.mid(0, sent.size()), sent);
}

void TestBridgeSimulator::listenerNeverSpeaks()
{
    SimOptions options = loopbackOptions(SimOptions::Scenario::Listen);
    options.recordPath = dir.filePath(QStringLiteral("listen.rec"));
    BridgeSimulator simulator(options);
    QString error;
    QVERIFY2(simulator.start(&error), qPrintable(error));
    Dashboard dashboard;
    dashboard.send(probe, simulator.localPort());
    dashboard.send(reply, simulator.localPort());
    QCOMPARE(dashboard.collect(400), QByteArrayList{});
    const QVector<CaptureRecord> records = recordsOf(options.recordPath);
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(1).bytes, reply);
}

void TestBridgeSimulator::peerOptionStreamsWithoutAProbe()
{
    Dashboard dashboard;
    SimOptions options = loopbackOptions(SimOptions::Scenario::Drive);
    options.peerAddress = QHostAddress::LocalHost;
    options.peerPort = dashboard.port();
    BridgeSimulator simulator(options);
    QString error;
    QVERIFY2(simulator.start(&error), qPrintable(error));
    QVERIFY(simulator.isStreaming());
    QVERIFY(dashboard.first(1000).startsWith("ECU: "));
}

void TestBridgeSimulator::refusesATakenPort()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress(QHostAddress::LocalHost), 0));
    SimOptions options = loopbackOptions(SimOptions::Scenario::Drive);
    options.port = holder.localPort();
    BridgeSimulator simulator(options);
    QString error;
    QVERIFY(!simulator.start(&error));
    QVERIFY2(error.contains(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(holder.localPort())),
             qPrintable(error));
}

QTEST_GUILESS_MAIN(TestBridgeSimulator)
#include "tst_bridgesimulator.moc"
