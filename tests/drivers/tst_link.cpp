#include "testaccess.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QUdpSocket>
#include <QtTest>

using namespace DeviceInfoSlot;

namespace {

QString slotText(const BackEnd &backEnd, int slot)
{
    return backEnd.deviceinfoList().at(slot).toString();
}

QByteArray frame(int vehicleSpeed, int engineSpeed = 0)
{
    return QStringLiteral("ECU:00 00 00 00 %1 00 C8 00 %2 00 00 00 00\r\n")
        .arg(engineSpeed / 25, 2, 16, QLatin1Char('0'))
        .arg(vehicleSpeed, 2, 16, QLatin1Char('0'))
        .toLatin1();
}

void receiveAll(BackEnd &backEnd, const QList<QByteArray> &datagrams)
{
    for (const QByteArray &datagram : datagrams)
        TestAccess::receive(backEnd, datagram);
}

void enterDemoMode(BackEnd &backEnd)
{
    for (int demand = 0; demand <= BridgeProtocol::maxDemandsBeforeDemo; ++demand)
        backEnd.demoDemandByUser();
}

} // namespace

// The conversation with the bridge, driven without a network: this namespace
// has loopback only, so the host never counts as on the bridge's network.
class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void everyDatagramIsASignOfLife_data();
    void everyDatagramIsASignOfLife();
    void nulEndsTheText();
    void identification_data();
    void identification();
    void identificationIsAnsweredInDemoMode();
    void framesShowTheNewestValues_data();
    void framesShowTheNewestValues();
    void bufferStaysBounded_data();
    void bufferStaysBounded();
    void silenceLosesTheLinkAtTheFifthTick();
    void demoTicksDriveSyntheticValues();
    void demoModeIgnoresFramesButNotLife();
    void the256thDemandEndsTheDemo();
    void timerAndSocketKeepTheirCadence();
};

void TestLink::everyDatagramIsASignOfLife_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("unrecognised text") << QByteArray("hello");
    QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe\xc3");
    QTest::newRow("frame") << frame(10);
}

void TestLink::everyDatagramIsASignOfLife()
{
    QFETCH(QByteArray, datagram);
    BackEnd backEnd;
    for (int tick = 0; tick < 3; ++tick)
        TestAccess::tick(backEnd);
    QCOMPARE(TestAccess::link(backEnd).silentTicks, 3);
    QSignalSpy changed(&backEnd, &BackEnd::deviceInfoListChanged);

    TestAccess::receive(backEnd, datagram);
    QCOMPARE(TestAccess::link(backEnd).silentTicks, 0);
    QCOMPARE(slotText(backEnd, LinkStatus), QString("1"));
    QVERIFY(changed.count() >= 1);
}

void TestLink::nulEndsTheText()
{
    BackEnd backEnd;
    TestAccess::receive(backEnd, QByteArray("ab\0cd", 5));
    QCOMPARE(TestAccess::link(backEnd).receiveBuffer, QString("ab"));
}

void TestLink::identification_data()
{
    QTest::addColumn<QList<QByteArray>>("datagrams");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("line");

    QTest::newRow("five parts, labelled second, fifth ignored")
        << QList<QByteArray>{"SN:0042 FW:1234 BR2 A7 extra\r\n"} << QStringList{"SN:0042", "1234", "BR2", "A7"}
        << "SN:0042 FW:1234 BR2 A7 extra";
    QTest::newRow("three parts are incomplete") << QList<QByteArray>{"SN:1 FW:2 X"} << QStringList{"", "", "", ""}
                                                << "SN:1 FW:2 X";
    QTest::newRow("tab does not separate") << QList<QByteArray>{"SN:1\tFW:2 3 4"} << QStringList{"", "", "", ""}
                                           << "SN:1\tFW:2 3 4";
    QTest::newRow("runs of spaces act as one") << QList<QByteArray>{"  SN:9   A:b  c   d  "}
                                               << QStringList{"SN:9", "b", "c", "d"} << "SN:9   A:b  c   d";
    QTest::newRow("second part without a colon is kept whole") << QList<QByteArray>{"SN:9 plain c d"}
                                                               << QStringList{"SN:9", "plain", "c", "d"}
                                                               << "SN:9 plain c d";
    QTest::newRow("earlier unrecognised text leads the line")
        << QList<QByteArray>{"hello world", "SN:5 L:6 7 8"} << QStringList{"hello", "5", "L:6", "7"}
        << "hello worldSN:5 L:6 7 8";
    QTest::newRow("marker split across datagrams") << QList<QByteArray>{"S", "N:1 A:2 3 4"}
                                                   << QStringList{"SN:1", "2", "3", "4"} << "SN:1 A:2 3 4";
}

void TestLink::identification()
{
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(QStringList, fields);
    QFETCH(QString, line);

    BackEnd backEnd;
    receiveAll(backEnd, datagrams);
    const LinkState &link = TestAccess::link(backEnd);
    QCOMPARE(QStringList({link.snField1, link.snField2, link.snField3, link.snField4}), fields);
    QCOMPARE(link.snLine, line);
    // The reply empties the buffer whether or not the line was complete.
    QVERIFY(link.receiveBuffer.isEmpty());
}

void TestLink::identificationIsAnsweredInDemoMode()
{
    BackEnd backEnd;
    enterDemoMode(backEnd);
    TestAccess::receive(backEnd, "SN:7 V:8 9 10");
    QCOMPARE(TestAccess::link(backEnd).snField2, QString("8"));
    QVERIFY(TestAccess::link(backEnd).receiveBuffer.isEmpty());
}

void TestLink::framesShowTheNewestValues_data()
{
    QTest::addColumn<QList<QByteArray>>("datagrams");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("previousSpeed");

    QTest::newRow("one frame per datagram") << QList<QByteArray>{frame(10), frame(20), frame(30)} << "30" << "20";
    QTest::newRow("frame split over two datagrams") << QList<QByteArray>{"ECU:00 00 00 00 50 00 C8", " 51 64 00 00 03 08"}
                                                    << "100" << "0";
    QTest::newRow("marker split over two datagrams") << QList<QByteArray>{frame(10), "EC", "U:0 0 0 0 0 0 0 0 2A"}
                                                     << "42" << "10";
    QTest::newRow("junk between frames") << QList<QByteArray>{frame(10), "junk", frame(11)} << "11" << "10";
    QTest::newRow("frame longer than the buffer's bound") << QList<QByteArray>{"ECU:0 0 0 0 0 0 0 0 2B" + QByteArray(9000, ' ')}
                                                         << "43" << "0.00";
    QTest::newRow("frame after an identification") << QList<QByteArray>{"SN:1 A:2 3 4", frame(55)} << "55" << "0.00";
}

void TestLink::framesShowTheNewestValues()
{
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(QString, speed);
    QFETCH(QString, previousSpeed);

    BackEnd backEnd;
    receiveAll(backEnd, datagrams);
    QCOMPARE(slotText(backEnd, VehicleSpeed), speed);
    QCOMPARE(slotText(backEnd, PreviousVehicleSpeed), previousSpeed);
}

void TestLink::bufferStaysBounded_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("count");
    QTest::newRow("a million frames after identification") << frame(88) << 1000000;
    QTest::newRow("text without any marker") << QByteArray(700, 'x') << 10000;
}

void TestLink::bufferStaysBounded()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, count);

    BackEnd backEnd;
    TestAccess::receive(backEnd, "SN:1 A:2 3 4");
    const QString &buffer = TestAccess::link(backEnd).receiveBuffer;
    for (int i = 0; i < count; ++i) {
        TestAccess::receive(backEnd, datagram);
        if (buffer.size() > BridgeProtocol::receiveBufferLimit)
            QFAIL(qPrintable(QStringLiteral("buffer grew to %1 after %2 datagrams").arg(buffer.size()).arg(i + 1)));
    }
    // A marker split across datagrams is still found after the cap.
    TestAccess::receive(backEnd, "EC");
    TestAccess::receive(backEnd, "U:0 0 0 0 0 0 0 0 07");
    QCOMPARE(slotText(backEnd, VehicleSpeed), QString("7"));
}

void TestLink::silenceLosesTheLinkAtTheFifthTick()
{
    BackEnd backEnd;
    TestAccess::receive(backEnd, frame(50, 3000));
    for (int tick = 1; tick <= BridgeProtocol::maxSilentTicks; ++tick) {
        TestAccess::tick(backEnd);
        QCOMPARE(slotText(backEnd, LinkStatus), QString("1"));
    }
    QSignalSpy changed(&backEnd, &BackEnd::deviceInfoListChanged);
    TestAccess::tick(backEnd);
    QCOMPARE(slotText(backEnd, LinkStatus), QString("0"));
    QCOMPARE(slotText(backEnd, VehicleSpeed), QString("0"));
    QCOMPARE(slotText(backEnd, EngineSpeed), QString("0"));
    // Every later silent tick reports the loss again, and the list ignores the repeats.
    TestAccess::tick(backEnd);
    TestAccess::tick(backEnd);
    QCOMPARE(TestAccess::link(backEnd).silentTicks, 7);
    QCOMPARE(changed.count(), 1);

    TestAccess::receive(backEnd, QByteArray());
    for (int tick = 1; tick <= BridgeProtocol::maxSilentTicks; ++tick)
        TestAccess::tick(backEnd);
    QCOMPARE(slotText(backEnd, LinkStatus), QString("1"));
}

void TestLink::demoTicksDriveSyntheticValues()
{
    BackEnd backEnd;
    TestAccess::receive(backEnd, "unrecognised");
    const int silentTicks = TestAccess::link(backEnd).silentTicks;
    enterDemoMode(backEnd);

    const QStringList speeds = {"10", "20", "30", "40", "50", "60", "70", "80", "90", "100", "90", "100", "90"};
    const QStringList rpms = {"500",  "1000", "1500", "2000", "2500", "3000", "3500",
                              "4000", "4500", "5000", "4500", "5000", "4500"};
    for (int tick = 0; tick < speeds.size(); ++tick) {
        TestAccess::tick(backEnd);
        QCOMPARE(slotText(backEnd, VehicleSpeed), speeds.at(tick));
        QCOMPARE(slotText(backEnd, EngineSpeed), rpms.at(tick));
    }
    for (int slot : {ColdStatus, WarmStatus, CoolantStatus, ParkNeutralStatus})
        QCOMPARE(slotText(backEnd, slot), QString("1"));
    QCOMPARE(slotText(backEnd, CoolantLabel), QString::fromUtf8("85\u00BAC"));
    QVERIFY(TestAccess::engine(backEnd).byte12Bit2);
    // Demo ticks send nothing, count no silence and report no loss.
    QCOMPARE(TestAccess::link(backEnd).receiveBuffer, QString("unrecognised"));
    QCOMPARE(TestAccess::link(backEnd).silentTicks, silentTicks);
    QCOMPARE(slotText(backEnd, LinkStatus), QString("1"));
}

void TestLink::demoModeIgnoresFramesButNotLife()
{
    BackEnd backEnd;
    enterDemoMode(backEnd);
    TestAccess::tick(backEnd);
    TestAccess::receive(backEnd, frame(77));
    QCOMPARE(slotText(backEnd, VehicleSpeed), QString("10"));
    QCOMPARE(TestAccess::link(backEnd).silentTicks, 0);
    QCOMPARE(slotText(backEnd, LinkStatus), QString("1"));
}

void TestLink::the256thDemandEndsTheDemo()
{
    BackEnd backEnd;
    enterDemoMode(backEnd);
    TestAccess::tick(backEnd);
    TestAccess::tick(backEnd);
    for (int demand = 4; demand < 256; ++demand)
        backEnd.demoDemandByUser();
    TestAccess::tick(backEnd);
    QCOMPARE(TestAccess::link(backEnd).silentTicks, 1);
    TestAccess::receive(backEnd, frame(66));
    QCOMPARE(slotText(backEnd, VehicleSpeed), QString("66"));

    // The synthetic drive resumes where it stopped.
    enterDemoMode(backEnd);
    TestAccess::tick(backEnd);
    QCOMPARE(slotText(backEnd, VehicleSpeed), QString("30"));
}

void TestLink::timerAndSocketKeepTheirCadence()
{
    QElapsedTimer clock;
    clock.start();
    BackEnd backEnd;
    const LinkState &link = TestAccess::link(backEnd);
    QTRY_COMPARE_WITH_TIMEOUT(link.silentTicks, 1, 2000);
    const qint64 firstTick = clock.elapsed();
    QVERIFY2(firstTick >= 1150 && firstTick <= 1600, qPrintable(QString::number(firstTick)));

    // Five datagrams at once: each notification reads exactly one, and none is lost.
    QUdpSocket sender;
    for (int i = 0; i < 5; ++i)
        sender.writeDatagram("x", QHostAddress::LocalHost, BridgeProtocol::port);
    QTRY_COMPARE(link.receiveBuffer, QString("xxxxx"));
    clock.restart();
    QTRY_COMPARE_WITH_TIMEOUT(slotText(backEnd, LinkStatus), QString("0"), 7000);
    const qint64 silence = clock.elapsed();
    QVERIFY2(silence >= 4700 && silence <= 6300, qPrintable(QString::number(silence)));
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
