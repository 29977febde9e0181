#include "driveprofile.h"
#include "scenario.h"
#include "testaccess.h"

#include <QtTest>

Q_DECLARE_METATYPE(SimOptions::Scenario)

namespace {

SimOptions optionsFor(SimOptions::Scenario kind)
{
    SimOptions options;
    options.scenario = kind;
    options.rateHz = 10.0;
    return options;
}

// What the dashboard's decoder makes of a text: speed, rpm, coolant, flags.
QString decoded(const QByteArray &text)
{
    BackEnd backEnd;
    TestAccess::decode(backEnd, QString::fromLatin1(text));
    const EngineData &d = TestAccess::engine(backEnd);
    return QStringLiteral("%1 km/h %2 rpm %3 C cld %4 wrm %5 pn %6")
        .arg(d.vehicleSpeed)
        .arg(d.engineSpeed)
        .arg(d.coolantTemp)
        .arg(d.coldFlag)
        .arg(d.warmFlag)
        .arg(d.parkNeutralFlag);
}

// Stream times of the ticks that sent something, from 0 to endMs in tick steps.
QVector<qint64> sendingTicks(const Scenario &scenario, qint64 endMs)
{
    QVector<qint64> ticks;
    qint64 previous = -1;
    for (qint64 now = 0; now <= endMs; now += scenario.tickIntervalMs()) {
        if (!scenario.datagramsBetween(previous, now).isEmpty())
            ticks << now;
        previous = now;
    }
    return ticks;
}

} // namespace

class TestScenario : public QObject
{
    Q_OBJECT

private slots:
    void driveGoesThroughItsPhases_data();
    void driveGoesThroughItsPhases();
    void driveWarmsThroughColdAndWarm();
    void driveStaysWithinTheFrameRange();
    void splitPiecesJoinToTheFrame_data();
    void splitPiecesJoinToTheFrame();
    void cutsFallAtTheGivenOffsets_data();
    void cutsFallAtTheGivenOffsets();
    void fixedScenarioSendsItsFrameEvenWhenAllZero();
    void malformedVariantsShowTheSameValues_data();
    void malformedVariantsShowTheSameValues();
    void silenceAndVanishLeaveGaps_data();
    void silenceAndVanishLeaveGaps();
    void vanishIdentifiesOnReturnAndReidentRepeats_data();
    void vanishIdentifiesOnReturnAndReidentRepeats();
    void replayKeepsTheRecordedSpacing();
    void listenAndReplayNeverAnswerProbes();
};

void TestScenario::driveGoesThroughItsPhases_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<int>("minSpeed");
    QTest::addColumn<int>("maxSpeed");
    QTest::addColumn<bool>("parkNeutral");
    QTest::newRow("idle, parked") << qint64(1000) << 0 << 0 << true;
    QTest::newRow("pulling away in first") << qint64(8000) << 5 << 18 << false;
    QTest::newRow("cruising near 100") << qint64(35000) << 97 << 103 << false;
    QTest::newRow("braking") << qint64(48500) << 30 << 70 << false;
    QTest::newRow("stopped again, parked") << qint64(56000) << 0 << 0 << true;
    QTest::newRow("the next cycle idles again") << qint64(61000) << 0 << 0 << true;
}

void TestScenario::driveGoesThroughItsPhases()
{
    QFETCH(qint64, ms);
    QFETCH(int, minSpeed);
    QFETCH(int, maxSpeed);
    QFETCH(bool, parkNeutral);
    const EcuFrame frame = DriveProfile::frameAt(ms);
    QVERIFY2(frame.speedKph >= minSpeed && frame.speedKph <= maxSpeed, qPrintable(QString::number(frame.speedKph)));
    QCOMPARE(frame.parkNeutral, parkNeutral);
}

void TestScenario::driveWarmsThroughColdAndWarm()
{
    QString shown;
    for (qint64 ms = 0; ms <= 3 * DriveProfile::cycleMs; ms += 500) {
        const EcuFrame frame = DriveProfile::frameAt(ms);
        const QString state = frame.cold ? QStringLiteral("C") : frame.warm ? QStringLiteral("W") : QStringLiteral("-");
        if (!shown.endsWith(state))
            shown += state;
    }
    QCOMPARE(shown, QStringLiteral("CW-"));
    QVERIFY(Drivers::coolantCurve(DriveProfile::frameAt(0).coolantRaw) < 16.0);
    QVERIFY(Drivers::coolantCurve(DriveProfile::frameAt(3 * DriveProfile::cycleMs).coolantRaw) >= 90.0);
}

void TestScenario::driveStaysWithinTheFrameRange()
{
    // A gear change: engine speed drops while the car keeps its speed.
    int shifts = 0;
    bool shifting = false;
    EcuFrame previous = DriveProfile::frameAt(0);
    for (qint64 ms = 0; ms < DriveProfile::cycleMs; ms += 100) {
        const EcuFrame frame = DriveProfile::frameAt(ms);
        QVERIFY(frame.speedKph >= 0 && frame.speedKph <= 0xFF);
        QVERIFY(frame.rpm >= 700 && frame.rpm <= 4000);
        const bool dropping = frame.speedKph > 0 && frame.speedKph >= previous.speedKph && frame.rpm < previous.rpm;
        shifts += dropping && !shifting;
        shifting = dropping;
        previous = frame;
    }
    QCOMPARE(shifts, 4);
}

void TestScenario::splitPiecesJoinToTheFrame_data()
{
    QTest::addColumn<int>("parts");
    QTest::newRow("two") << 2;
    QTest::newRow("five") << 5;
    QTest::newRow("more parts than tokens") << 16;
}

void TestScenario::splitPiecesJoinToTheFrame()
{
    QFETCH(int, parts);
    SimOptions options = optionsFor(SimOptions::Scenario::Split);
    options.parts = parts;
    const Scenario scenario(options);
    const int lineSize = scenario.frameLineAt(0).size();
    QSet<int> cutOffsets;
    for (int frame = 0; frame < lineSize; ++frame) {
        const qint64 ms = frame * scenario.tickIntervalMs();
        const QByteArrayList pieces = scenario.datagramsBetween(ms - 1, ms);
        QCOMPARE(pieces.size(), parts);
        QCOMPARE(pieces.join(), scenario.frameLineAt(ms));
        int offset = 0;
        for (int piece = 0; piece + 1 < pieces.size(); ++piece)
            cutOffsets << (offset += pieces.at(piece).size());
    }
    // In turn, every offset is cut: inside the marker, the tokens and the line end too.
    QCOMPARE(cutOffsets.size(), lineSize - 1);
}

void TestScenario::cutsFallAtTheGivenOffsets_data()
{
    QTest::addColumn<QVector<int>>("cuts");
    QTest::addColumn<int>("loseEvery");
    QTest::addColumn<int>("frame");
    // The sizes of the frame line's pieces in order, and which of them go out.
    QTest::addColumn<QVector<int>>("sizes");
    QTest::addColumn<QVector<int>>("sent");
    // The line is "ECU:" and 13 tokens of " XX", then CR LF: 45 bytes.
    QTest::newRow("inside the marker") << QVector<int>{2} << 0 << 0 << QVector<int>{2, 43} << QVector<int>{0, 1};
    QTest::newRow("inside a token, then the line end")
        << QVector<int>{20, 44} << 0 << 0 << QVector<int>{20, 24, 1} << QVector<int>{0, 1, 2};
    QTest::newRow("cuts past the end are dropped")
        << QVector<int>{10, 45, 90} << 0 << 0 << QVector<int>{10, 35} << QVector<int>{0, 1};
    const QVector<int> cuts{10, 20}, thirds{10, 10, 25};
    QTest::newRow("every second frame: first the last piece lost") << cuts << 2 << 0 << thirds << QVector<int>{0, 1};
    QTest::newRow("then a middle one") << cuts << 2 << 2 << thirds << QVector<int>{0, 2};
    QTest::newRow("then the last") << cuts << 2 << 4 << thirds << QVector<int>{0, 1};
    QTest::newRow("and the next frame's first") << cuts << 2 << 5 << thirds << QVector<int>{1, 2};
    QTest::newRow("then a middle one twice") << cuts << 2 << 6 << thirds << QVector<int>{0, 1, 1, 2};
}

void TestScenario::cutsFallAtTheGivenOffsets()
{
    QFETCH(QVector<int>, cuts);
    QFETCH(int, loseEvery);
    QFETCH(int, frame);
    QFETCH(QVector<int>, sizes);
    QFETCH(QVector<int>, sent);
    SimOptions options = optionsFor(SimOptions::Scenario::Split);
    options.cuts = cuts;
    options.loseEvery = loseEvery;
    const Scenario scenario(options);
    const qint64 ms = frame * scenario.tickIntervalMs();
    const QByteArray line = scenario.frameLineAt(ms);
    QByteArrayList pieces;
    int offset = 0;
    for (const int size : sizes) {
        pieces << line.mid(offset, size);
        offset += size;
    }
    QCOMPARE(offset, line.size());
    QByteArrayList datagrams;
    for (const int piece : sent)
        datagrams << pieces.at(piece);
    QCOMPARE(scenario.datagramsBetween(ms - 1, ms), datagrams);
}

void TestScenario::fixedScenarioSendsItsFrameEvenWhenAllZero()
{
    const Scenario scenario(optionsFor(SimOptions::Scenario::Fixed));
    for (const qint64 ms : {0, 9000, 35000})
        QCOMPARE(scenario.datagramsBetween(ms - 1, ms), QByteArrayList{EcuFrame::line(EcuFrame().bytes())});
}

void TestScenario::malformedVariantsShowTheSameValues_data()
{
    QTest::addColumn<int>("variant");
    for (int variant = 0; variant < Scenario::malformedVariants; ++variant)
        QTest::addRow("variant %d", variant) << variant;
}

void TestScenario::malformedVariantsShowTheSameValues()
{
    QFETCH(int, variant);
    const QByteArray bytes = EcuFrame{87, 2475, 230, true, false, true}.bytes();
    const QByteArray line = Scenario::malformedLine(bytes, variant);
    QVERIFY(line.startsWith("ECU:"));
    QCOMPARE(decoded(line), decoded(EcuFrame::line(bytes)));
}

void TestScenario::silenceAndVanishLeaveGaps_data()
{
    QTest::addColumn<SimOptions::Scenario>("kind");
    QTest::newRow("silence") << SimOptions::Scenario::Silence;
    QTest::newRow("vanish") << SimOptions::Scenario::Vanish;
}

void TestScenario::silenceAndVanishLeaveGaps()
{
    QFETCH(SimOptions::Scenario, kind);
    SimOptions options = optionsFor(kind);
    options.activeMs = 1000;
    options.gapMs = 3000;
    const Scenario scenario(options);
    const QVector<qint64> ticks = sendingTicks(scenario, 9000);
    for (const qint64 ms : ticks)
        QVERIFY2(ms % 4000 < 1000, qPrintable(QString::number(ms)));
    QCOMPARE(ticks.size(), 30);
    QCOMPARE(scenario.isAway(2000), kind == SimOptions::Scenario::Vanish);
    QVERIFY(!scenario.isAway(4500));
}

void TestScenario::vanishIdentifiesOnReturnAndReidentRepeats_data()
{
    QTest::addColumn<SimOptions::Scenario>("kind");
    QTest::addColumn<QVector<qint64>>("identifiedAt");
    QTest::newRow("vanish: once back") << SimOptions::Scenario::Vanish << QVector<qint64>{4000, 8000};
    QTest::newRow("reident: every 2.5 s") << SimOptions::Scenario::Reident << QVector<qint64>{2500, 5000, 7500};
    QTest::newRow("drive: never") << SimOptions::Scenario::Drive << QVector<qint64>{};
}

void TestScenario::vanishIdentifiesOnReturnAndReidentRepeats()
{
    QFETCH(SimOptions::Scenario, kind);
    QFETCH(QVector<qint64>, identifiedAt);
    SimOptions options = optionsFor(kind);
    options.activeMs = 1000;
    options.gapMs = 3000;
    options.everyMs = 2500;
    const Scenario scenario(options);
    QVector<qint64> seen;
    qint64 previous = -1;
    for (qint64 now = 0; now <= 9000; now += scenario.tickIntervalMs()) {
        const QByteArrayList datagrams = scenario.datagramsBetween(previous, now);
        if (!datagrams.isEmpty() && datagrams.constFirst().startsWith("SN:")) {
            seen << now;
            QVERIFY(datagrams.size() == 2 && datagrams.at(1).startsWith("ECU:"));
        }
        previous = now;
    }
    QCOMPARE(seen, identifiedAt);
}

void TestScenario::replayKeepsTheRecordedSpacing()
{
    const QVector<CaptureRecord> capture = {
        {1000, CaptureRecord::Direction::In, "0\r\n"},
        {1005, CaptureRecord::Direction::Out, "SN:A B:1 C D\r\n"},
        {1010, CaptureRecord::Direction::In, "&TE2=1\r\n"},
        {1200, CaptureRecord::Direction::Out, "ECU: 01"},
        {1205, CaptureRecord::Direction::Out, ""},
        {2005, CaptureRecord::Direction::Out, "ECU: 02"},
    };
    const Scenario scenario(optionsFor(SimOptions::Scenario::Replay), capture);
    QCOMPARE(scenario.tickIntervalMs(), Scenario::replayTickMs);
    QCOMPARE(scenario.datagramsBetween(-1, 0), QByteArrayList{"SN:A B:1 C D\r\n"});
    QCOMPARE(scenario.datagramsBetween(0, 190), QByteArrayList{});
    QCOMPARE(scenario.datagramsBetween(190, 200), (QByteArrayList{"ECU: 01", ""}));
    QCOMPARE(scenario.datagramsBetween(200, 999), QByteArrayList{});
    QCOMPARE(scenario.datagramsBetween(999, 1010), QByteArrayList{"ECU: 02"});
}

void TestScenario::listenAndReplayNeverAnswerProbes()
{
    QVERIFY(!Scenario(optionsFor(SimOptions::Scenario::Listen)).answersProbes());
    QVERIFY(!Scenario(optionsFor(SimOptions::Scenario::Replay)).answersProbes());
    QVERIFY(Scenario(optionsFor(SimOptions::Scenario::Quiet)).answersProbes());
    QCOMPARE(sendingTicks(Scenario(optionsFor(SimOptions::Scenario::Quiet)), 5000).size(), 0);
    QVERIFY(Scenario(optionsFor(SimOptions::Scenario::Vanish)).answersProbes());
    QCOMPARE(sendingTicks(Scenario(optionsFor(SimOptions::Scenario::Listen)), 5000).size(), 0);
}

QTEST_GUILESS_MAIN(TestScenario)
#include "tst_scenario.moc"
