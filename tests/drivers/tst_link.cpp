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

// The bridge's format: one frame per datagram, ending in CR LF; the last byte sets P/N.
QByteArray frame(int vehicleSpeed, int engineSpeed = 0)
{
    return QStringLiteral("ECU:00 00 00 00 %1 00 C8 00 %2 00 00 00 08\r\n")
        .arg(engineSpeed / 25, 2, 16, QLatin1Char('0'))
        .arg(vehicleSpeed, 2, 16, QLatin1Char('0'))
        .toLatin1();
}

void receiveAll(BackEnd &backEnd, const QList<QByteArray> &datagrams)
{
    for (const QByteArray &datagram : datagrams)
        TestAccess::receive(backEnd, datagram);
}

// What each refresh of the list showed: speed, engine speed and the P/N status.
QStringList refreshesWhile(BackEnd &backEnd, const QList<QByteArray> &datagrams)
{
    QStringList shown;
    const QMetaObject::Connection recording = QObject::connect(&backEnd, &BackEnd::deviceInfoListChanged, [&] {
        shown << slotText(backEnd, VehicleSpeed) + QLatin1Char(' ') + slotText(backEnd, EngineSpeed) + " pn "
                     + slotText(backEnd, ParkNeutralStatus);
    });
    receiveAll(backEnd, datagrams);
    QObject::disconnect(recording);
    shown.removeAll(QStringLiteral("0.00 0.00 pn 0")); // the link turning alive
    return shown;
}

QString shownFrame(int vehicleSpeed, int engineSpeed = 0)
{
    return QStringLiteral("%1 %2 pn 1").arg(vehicleSpeed).arg(engineSpeed);
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
    TestAccess::receive(backEnd, QByteArray("ECU:ab\0cd", 9));
    QCOMPARE(TestAccess::link(backEnd).receiveBuffer, QString("ECU:ab"));
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
    QTest::newRow("earlier unrecognised text is dropped")
        << QList<QByteArray>{"hello world", "SN:5 L:6 7 8"} << QStringList{"SN:5", "6", "7", "8"} << "SN:5 L:6 7 8";
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
    QTest::addColumn<QStringList>("refreshes");

    const QByteArray bare = "ECU:0 0 0 0 0 0 0 0 ";
    QTest::newRow("one frame per datagram") << QList<QByteArray>{frame(10), frame(20), frame(30)}
                                            << QStringList{shownFrame(10), shownFrame(20), shownFrame(30)};
    QTest::newRow("frame split over two datagrams")
        << QList<QByteArray>{"ECU:00 00 00 00 50 00 C8", " 51 64 00 00 03 08\r\n"}
        << QStringList{shownFrame(100, 2000)};
    QTest::newRow("marker split over two datagrams") << QList<QByteArray>{frame(10), "EC", frame(42).mid(2)}
                                                     << QStringList{shownFrame(10), shownFrame(42)};
    QTest::newRow("stray line after a frame") << QList<QByteArray>{frame(10), "OK\r\n", "\r\n", "OK"}
                                              << QStringList{shownFrame(10)};
    QTest::newRow("split marker after a frame") << QList<QByteArray>{frame(10), "EC"} << QStringList{shownFrame(10)};
    QTest::newRow("junk between frames") << QList<QByteArray>{frame(10), "junk", frame(11)}
                                         << QStringList{shownFrame(10), shownFrame(11)};
    // A bridge without line ends: after three frames in a row that only the next marker ended, each
    // frame shows once the next marker ends it, if it is whole; a stray line does not stop that for
    // good, and a re-identification starts the count again.
    QList<QByteArray> open;
    for (int speed : {10, 20, 30, 40})
        open << frame(speed).chopped(2);
    QTest::newRow("frames without line ends, each ended by the next marker")
        << open + QList<QByteArray>{frame(45).left(25), frame(50).chopped(2), frame(60).chopped(2)}
        << QStringList{shownFrame(30), shownFrame(40), shownFrame(50)};
    QTest::newRow("a stray line, then frames without line ends")
        << QList<QByteArray>{frame(5), frame(6).chopped(2), "OK\r\n"} + open + QList<QByteArray>{frame(50).chopped(2)}
        << QStringList{shownFrame(5), shownFrame(30), shownFrame(40)};
    QTest::newRow("a re-identification, then frames without line ends")
        << open + QList<QByteArray>{"SN:1 A:2 3 4"} + open << QStringList{shownFrame(30), shownFrame(30)};
    // Wi-Fi loses datagrams in a row and repeats some: pieces of two frames glued, a piece twice.
    const QByteArray whole = "ECU:00 00 00 00 50 00 C8 51 64 00 00 03 08\r\n";
    QTest::newRow("the head of a frame glued to the tail of the next")
        << QList<QByteArray>{whole, "ECU:00 00 00 ", "00 50 00 C8 ", "00 50 00 C8 ", "51 64 00 00 03 08\r\n", whole}
        << QStringList{shownFrame(100, 2000), shownFrame(100, 2000)};
    QTest::newRow("a piece twice") << QList<QByteArray>{whole, whole.left(17), whole.mid(17, 12), whole.mid(17)}
                                   << QStringList{shownFrame(100, 2000)};
    QTest::newRow("a short frame in one datagram keeps its absent bytes")
        << QList<QByteArray>{frame(10), bare + "2A\n"} << QStringList{shownFrame(10), "42 0 pn 0"};
    QTest::newRow("several frames in one datagram: the newest") << QList<QByteArray>{frame(10) + frame(20) + frame(30)}
                                                                << QStringList{shownFrame(30)};
    QTest::newRow("frame longer than the buffer's bound, in one datagram")
        << QList<QByteArray>{bare + "2B" + QByteArray(9000, ' ') + "\r\n"} << QStringList{"43 0 pn 0"};
    QTest::newRow("open frame outgrowing the bound is dropped")
        << QList<QByteArray>{bare + "2B" + QByteArray(5000, ' '), "\r\n", frame(12)} << QStringList{shownFrame(12)};
    QTest::newRow("frame after an identification") << QList<QByteArray>{"SN:1 A:2 3 4", frame(55)}
                                                   << QStringList{shownFrame(55)};

    // Every cut point of a frame, its line end included, each frame with its own speed.
    QList<QByteArray> pieces;
    QStringList refreshes;
    for (int cut = 1; cut < frame(0).size(); ++cut) {
        pieces << frame(cut).left(cut) << frame(cut).mid(cut);
        refreshes << shownFrame(cut);
    }
    QTest::newRow("a frame cut at every position") << pieces << refreshes;

    // Pieces lost on the way, at every cut: a first piece whose tail is lost, followed by another
    // first piece and then a whole frame; a frame in three pieces whose middle one, a byte's
    // width, is lost or, inside the marker too, arrives twice.
    QList<QByteArray> tailless{frame(1)}, middleless{frame(1)}, doubled{frame(1)};
    QStringList wholeOnly{shownFrame(1)};
    const int lineEnd = int(sizeof(BridgeProtocol::lineEnd)) - 1;
    const int byteWidth = 3;
    for (int cut = 1; cut < frame(0).size() - lineEnd; ++cut) {
        tailless << frame(0).left(cut) << frame(0).left(cut) << frame(100 + cut);
        middleless << frame(0).left(cut) << frame(0).mid(cut + byteWidth);
        wholeOnly << shownFrame(100 + cut);
        if (cut + byteWidth < frame(0).size() - lineEnd)
            doubled << frame(0).left(cut) << frame(0).mid(cut, byteWidth) << frame(0).mid(cut);
    }
    QTest::newRow("first pieces that lost their tails") << tailless << wholeOnly;
    QTest::newRow("frames that lost a middle piece") << middleless << QStringList{shownFrame(1)};
    QTest::newRow("frames with a middle piece twice") << doubled << QStringList{shownFrame(1)};
}

void TestLink::framesShowTheNewestValues()
{
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(QStringList, refreshes);

    BackEnd backEnd;
    QCOMPARE(refreshesWhile(backEnd, datagrams), refreshes);
}

void TestLink::bufferStaysBounded_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("kept");
    // A whole frame leaves nothing behind, so every datagram starts from an empty buffer.
    QTest::newRow("a million frames after identification") << frame(88) << 1000000 << 0;
    QTest::newRow("frames without line ends") << QByteArray("ECU:0 0 0 0 0 0 0 0 58 ") << 100000 << 24;
    QTest::newRow("text without any marker") << QByteArray(700, 'x') << 10000 << 0;
}

void TestLink::bufferStaysBounded()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, count);
    QFETCH(int, kept);

    BackEnd backEnd;
    TestAccess::receive(backEnd, "SN:1 A:2 3 4");
    const QString &buffer = TestAccess::link(backEnd).receiveBuffer;
    for (int i = 0; i < count; ++i) {
        TestAccess::receive(backEnd, datagram);
        if (buffer.size() > kept)
            QFAIL(qPrintable(QStringLiteral("buffer grew to %1 after %2 datagrams").arg(buffer.size()).arg(i + 1)));
    }
    QVERIFY(kept <= BridgeProtocol::receiveBufferLimit);
    // A marker split across datagrams is still found.
    TestAccess::receive(backEnd, frame(7).left(2));
    TestAccess::receive(backEnd, frame(7).mid(2));
    QCOMPARE(slotText(backEnd, VehicleSpeed), QString("7"));
}

void TestLink::silenceLosesTheLinkAtTheFifthTick()
{
    BackEnd backEnd;
    // A bridge that leaves its lines open, until the link is lost.
    for (int frames = 0; frames <= BridgeProtocol::openLinesAfterFrames; ++frames)
        TestAccess::receive(backEnd, frame(50, 3000).chopped(2));
    QCOMPARE(slotText(backEnd, VehicleSpeed), QString("50"));
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

    TestAccess::receive(backEnd, frame(60).chopped(2));
    for (int tick = 1; tick <= BridgeProtocol::maxSilentTicks; ++tick)
        TestAccess::tick(backEnd);
    QCOMPARE(slotText(backEnd, LinkStatus), QString("1"));
    // The loss forgot the habit: frames without line ends wait to be learnt again.
    TestAccess::receive(backEnd, frame(70).chopped(2));
    QCOMPARE(slotText(backEnd, VehicleSpeed), QString("0"));
}

void TestLink::demoTicksDriveSyntheticValues()
{
    BackEnd backEnd;
    TestAccess::receive(backEnd, "ECU:01");
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
    QCOMPARE(TestAccess::link(backEnd).receiveBuffer, QString("ECU:01"));
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
    for (const char *piece : {"ECU:1", " 2", " 3", " 4", " 5"})
        sender.writeDatagram(piece, QHostAddress::LocalHost, BridgeProtocol::port);
    QTRY_COMPARE(link.receiveBuffer, QString("ECU:1 2 3 4 5"));
    clock.restart();
    QTRY_COMPARE_WITH_TIMEOUT(slotText(backEnd, LinkStatus), QString("0"), 7000);
    const qint64 silence = clock.elapsed();
    QVERIFY2(silence >= 4700 && silence <= 6300, qPrintable(QString::number(silence)));
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
