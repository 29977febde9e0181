#include "netnspair.h"
#include "testaccess.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

namespace {

const QByteArray probeBytes = QByteArray::fromHex("300d0a");
const QByteArray replyBytes = QByteArray::fromHex("265445323d310d0a");
constexpr char dashboardHost[] = "192.168.4.105";

// One datagram as the bridge saw it arrive.
struct Arrival
{
    qint64 atMs;
    QByteArray bytes;
    quint16 sourcePort;
};

} // namespace

// The bytes that really leave the socket, between a dashboard and a bridge on
// their own network with the built-in address and port.
class TestWire : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void probesOnlyOnTheBridgeNetwork_data();
    void probesOnlyOnTheBridgeNetwork();
    void identificationIsAnswered_data();
    void identificationIsAnswered();

private:
    bool start(const QString &bridgeAddress, const QStringList &dashboardAddresses);
    void waitForTicks(int ticks);
    void sendFromBridge(const QByteArray &datagram);

    std::unique_ptr<NetnsPair> network;
    std::unique_ptr<QUdpSocket> bridgeSocket;
    std::unique_ptr<BackEnd> backEnd;
    QElapsedTimer clock;
    QList<Arrival> arrivals;
};

void TestWire::init()
{
    arrivals.clear();
}

void TestWire::cleanup()
{
    backEnd.reset();
    bridgeSocket.reset();
    network.reset();
}

bool TestWire::start(const QString &bridgeAddress, const QStringList &dashboardAddresses)
{
    network = std::make_unique<NetnsPair>(bridgeAddress, dashboardAddresses);
    if (!network->isReady() || !network->enterBridge())
        return false;
    bridgeSocket = std::make_unique<QUdpSocket>();
    const QString host = bridgeAddress.section('/', 0, 0);
    if (!bridgeSocket->bind(QHostAddress(host), BridgeProtocol::port))
        return false;
    connect(bridgeSocket.get(), &QUdpSocket::readyRead, this, [this] {
        const QNetworkDatagram datagram = bridgeSocket->receiveDatagram();
        arrivals.append({clock.elapsed(), datagram.data(), quint16(datagram.senderPort())});
    });
    if (!network->enterDashboard())
        return false;
    clock.start();
    backEnd = std::make_unique<BackEnd>();
    return true;
}

void TestWire::waitForTicks(int ticks)
{
    QTest::qWait(ticks * BridgeProtocol::pollIntervalMs + BridgeProtocol::pollIntervalMs / 3);
}

void TestWire::sendFromBridge(const QByteArray &datagram)
{
    bridgeSocket->writeDatagram(datagram, QHostAddress(QLatin1String(dashboardHost)), BridgeProtocol::port);
}

void TestWire::probesOnlyOnTheBridgeNetwork_data()
{
    QTest::addColumn<QString>("bridgeAddress");
    QTest::addColumn<QStringList>("dashboardAddresses");
    QTest::addColumn<bool>("probes");

    QTest::newRow("192.168.4.105 probes") << "192.168.4.1/24" << QStringList{"192.168.4.105/24"} << true;
    QTest::newRow("192.168.4.10 probes") << "192.168.4.1/24" << QStringList{"192.168.4.10/24"} << true;
    QTest::newRow("192.168.4.11 stays quiet") << "192.168.4.1/24" << QStringList{"192.168.4.11/24"} << false;
    QTest::newRow("the bridge's own address stays quiet") << "192.168.4.2/24" << QStringList{"192.168.4.1/24"} << false;
    QTest::newRow("IPv6 only stays quiet") << "192.168.4.1/24" << QStringList{"fd00:4::105/64"} << false;
}

void TestWire::probesOnlyOnTheBridgeNetwork()
{
    QFETCH(QString, bridgeAddress);
    QFETCH(QStringList, dashboardAddresses);
    QFETCH(bool, probes);

    if (!start(bridgeAddress, dashboardAddresses))
        QSKIP(qPrintable(network->failure()));
    waitForTicks(3);
    QCOMPARE(TestAccess::link(*backEnd).onBridgeNetwork, probes);
    if (!probes) {
        QCOMPARE(arrivals.size(), 0);
        // Nothing came back to the dashboard either: it sent nothing at all.
        QCOMPARE(backEnd->deviceinfoList().at(DeviceInfoSlot::LinkStatus).toString(), QString("0"));
        return;
    }
    QCOMPARE(arrivals.size(), 3);
    for (int i = 0; i < arrivals.size(); ++i) {
        QCOMPARE(arrivals.at(i).bytes.toHex(' '), probeBytes.toHex(' '));
        QCOMPARE(arrivals.at(i).sourcePort, BridgeProtocol::port);
        const qint64 expectedMs = (i + 1) * BridgeProtocol::pollIntervalMs;
        QVERIFY2(qAbs(arrivals.at(i).atMs - expectedMs) < 250, qPrintable(QString::number(arrivals.at(i).atMs)));
    }
}

void TestWire::identificationIsAnswered_data()
{
    QTest::addColumn<QByteArray>("identification");
    QTest::addColumn<bool>("probingGoesOn");

    QTest::newRow("complete line ends the probing") << QByteArray("SN:8231 FW:1234 BR2 A7\r\n") << false;
    QTest::newRow("three parts keep the probing") << QByteArray("SN:8231 FW:1234 BR2\r\n") << true;
}

void TestWire::identificationIsAnswered()
{
    QFETCH(QByteArray, identification);
    QFETCH(bool, probingGoesOn);

    if (!start(QStringLiteral("192.168.4.1/24"), {QStringLiteral("192.168.4.105/24")}))
        QSKIP(qPrintable(network->failure()));
    QTRY_COMPARE_WITH_TIMEOUT(arrivals.size(), 1, 2 * BridgeProtocol::pollIntervalMs);

    sendFromBridge(identification);
    QTRY_COMPARE(arrivals.size(), 2);
    QCOMPARE(arrivals.last().bytes.toHex(' '), replyBytes.toHex(' '));

    sendFromBridge("ECU:00 00 00 00 50 00 C8 51 64 00 00 03 08\r\n");
    QTRY_COMPARE(backEnd->deviceinfoList().at(DeviceInfoSlot::VehicleSpeed).toString(), QString("100"));
    QCOMPARE(backEnd->deviceinfoList().at(DeviceInfoSlot::EngineSpeed).toString(), QString("2000"));

    waitForTicks(2);
    const QList<Arrival> later = arrivals.mid(2);
    QCOMPARE(later.size(), probingGoesOn ? 2 : 0);
    for (const Arrival &arrival : later)
        QCOMPARE(arrival.bytes.toHex(' '), probeBytes.toHex(' '));
}

QTEST_GUILESS_MAIN(TestWire)
#include "tst_wire.moc"
