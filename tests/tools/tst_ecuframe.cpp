#include "drivers.h"
#include "ecuframe.h"
#include "testaccess.h"

#include <QtTest>

Q_DECLARE_METATYPE(EcuFrame)

// The simulator's frames must mean to the dashboard's own decoder what the simulator intends.
class TestEcuFrame : public QObject
{
    Q_OBJECT

private slots:
    void decodesAsIntended_data();
    void decodesAsIntended();
    void lineIsMarkerAndUpperCaseHex();
    void coolantRawForIsTheFirstRawAtOrAbove_data();
    void coolantRawForIsTheFirstRawAtOrAbove();
};

void TestEcuFrame::decodesAsIntended_data()
{
    QTest::addColumn<EcuFrame>("frame");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("rpm");
    QTest::addColumn<double>("coolant");
    QTest::addColumn<int>("flags"); // cold | warm << 1 | parkNeutral << 2

    QTest::newRow("idle in P/N") << EcuFrame{0, 800, 140, false, false, true} << 0 << 800 << 22.373 << 4;
    QTest::newRow("cruising, cold and warm bits") << EcuFrame{100, 2000, 200, true, true, false} << 100 << 2000
                                                  << 53.0 << 3;
    QTest::newRow("rpm rounds to the nearest 25") << EcuFrame{5, 2012, 6, false, true, false} << 5 << 2000
                                                  << -58.142 << 2;
    QTest::newRow("values beyond a byte are clamped") << EcuFrame{300, 9000, 400, true, false, true} << 255
                                                      << 6375 << 141.0 << 5;
    QTest::newRow("negatives clamp to zero") << EcuFrame{-4, -100, -1, false, false, false} << 0 << 0 << 59.0 << 0;
}

void TestEcuFrame::decodesAsIntended()
{
    QFETCH(EcuFrame, frame);
    QFETCH(int, speed);
    QFETCH(int, rpm);
    QFETCH(double, coolant);
    QFETCH(int, flags);

    QCOMPARE(frame.bytes().size(), BridgeProtocol::wholeFrameBytes);
    BackEnd backEnd;
    TestAccess::decode(backEnd, QString::fromLatin1(frame.line()));
    const EngineData &data = TestAccess::engine(backEnd);
    QCOMPARE(data.vehicleSpeed, speed);
    QCOMPARE(data.engineSpeed, rpm);
    QVERIFY2(qAbs(data.coolantTemp - coolant) < 1e-9, qPrintable(QString::number(data.coolantTemp)));
    QCOMPARE(data.coldFlag, bool(flags & 1));
    QCOMPARE(data.warmFlag, bool(flags & 2));
    QCOMPARE(data.parkNeutralFlag, bool(flags & 4));
}

void TestEcuFrame::lineIsMarkerAndUpperCaseHex()
{
    const EcuFrame frame{100, 2000, 200, true, true, true};
    QCOMPARE(frame.line(), QByteArray("ECU: 00 00 00 00 50 00 C8 00 64 00 00 03 08\r\n"));
}

void TestEcuFrame::coolantRawForIsTheFirstRawAtOrAbove_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("raw");
    QTest::newRow("below the curve") << -100.0 << 6;
    QTest::newRow("exactly a curve value") << 53.0 << 200;
    QTest::newRow("between two raws") << 53.1 << 201;
    QTest::newRow("freezing point") << 0.0 << 82;
    QTest::newRow("hot") << 90.0 << 233;
    QTest::newRow("beyond the rising part") << 140.0 << 246;
}

void TestEcuFrame::coolantRawForIsTheFirstRawAtOrAbove()
{
    QFETCH(double, celsius);
    QFETCH(int, raw);
    QCOMPARE(EcuFrame::coolantRawFor(celsius), raw);
}

QTEST_GUILESS_MAIN(TestEcuFrame)
#include "tst_ecuframe.moc"
