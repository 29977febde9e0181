#include "testaccess.h"

#include <QtTest>

#include <cmath>

namespace {

// The flags of a decoded frame by name, so rows can list the ones they expect set.
QStringList setFlags(const EngineData &data)
{
    const QList<QPair<const char *, bool>> flags = {
        {"warm", data.warmFlag},           {"cold", data.coldFlag},           {"11.4", data.byte11Bit4},
        {"11.5", data.byte11Bit5},         {"11.6", data.byte11Bit6},         {"12.0", data.byte12Bit0},
        {"12.1", data.byte12Bit1},         {"12.2", data.byte12Bit2},         {"parkNeutral", data.parkNeutralFlag},
        {"12.4", data.byte12Bit4},         {"12.5", data.byte12Bit5},         {"12.7", data.byte12Bit7},
    };
    QStringList names;
    for (const auto &flag : flags) {
        if (flag.second)
            names << QString::fromLatin1(flag.first);
    }
    return names;
}

bool near(double actual, double expected)
{
    return std::abs(actual - expected) < 1e-9;
}

} // namespace

class TestDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decodesFrames_data();
    void decodesFrames();
    void everyFrameReplacesEveryField();
    void coolantCurve_data();
    void coolantCurve();
};

void TestDecoder::decodesFrames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("vehicleSpeed");
    QTest::addColumn<int>("engineSpeed");
    QTest::addColumn<double>("coolant");
    QTest::addColumn<QList<double>>("values"); // byte1, byte2, byte3, byte5, byte7
    QTest::addColumn<QStringList>("flags");

    const QList<double> absent = {0.0, -30.0, 0.0, 0.0, 0.0};
    QTest::newRow("bridge frame") << "ECU:00 00 00 00 50 00 C8 51 64 00 00 03 08"
                                  << QByteArray::fromHex("00 00 00 00 50 00 C8 51 64 00 00 03 08")
                                  << 100 << 2000 << 53.0 << QList<double>{0.0, -30.0, 0.0, 0.0, 40.0}
                                  << QStringList{"warm", "cold", "parkNeutral"};
    QTest::newRow("marker alone gives the absent values") << "ECU:" << QByteArray() << 0 << 0 << 59.0 << absent
                                                          << QStringList{};
    QTest::newRow("surplus spaces, bad and overlong tokens") << "ECU:  0A   zz 1FF " << QByteArray::fromHex("0a00ff")
                                                             << 0 << 0 << 59.0 << QList<double>{0.0, 89.85, 0.0, 0.0, 0.0}
                                                             << QStringList{};
    QTest::newRow("high bytes keep their full value") << "ECU:00 00 00 00 FF 00 F6 FF FF"
                                                      << QByteArray::fromHex("00000000ff00f6ffff") << 255 << 6375
                                                      << 141.0 << QList<double>{0.0, -30.0, 0.0, 0.0, 127.0}
                                                      << QStringList{};
    QTest::newRow("lower case like upper case") << "ECU:00 10 64 00 0a 99 c8 00 2d"
                                                << QByteArray::fromHex("001064000a99c8002d") << 45 << 250 << 53.0
                                                << QList<double>{2.0, 17.0, 0.0, 153 / 1.535, 0.0} << QStringList{};
    QTest::newRow("twelve bytes set only byte-11 flags") << "ECU:0 0 0 0 0 0 0 0 0 0 0 FF"
                                                         << QByteArray::fromHex("0000000000000000000000ff") << 0 << 0
                                                         << 59.0 << absent
                                                         << QStringList{"warm", "cold", "11.4", "11.5", "11.6"};
    QTest::newRow("byte 12 bit 6 is not read") << "ECU:0 0 0 0 0 0 0 0 0 0 0 0 FF 77"
                                               << QByteArray::fromHex("000000000000000000000000ff77") << 0 << 0 << 59.0
                                               << absent
                                               << QStringList{"12.0", "12.1", "12.2", "parkNeutral", "12.4", "12.5", "12.7"};
    QTest::newRow("nine bytes set speed and no flag") << "ECU:0 0 0 0 0 0 0 0 21" << QByteArray::fromHex("000000000000000021")
                                                      << 33 << 0 << 59.0 << absent << QStringList{};
    QTest::newRow("token glued to a second marker becomes 0") << "ECU:0 0 0 0 0 0 0 0 08\r\nECU: 01"
                                                              << QByteArray::fromHex("00000000000000000001") << 0
                                                              << 0 << 59.0 << absent << QStringList{};
    QTest::newRow("first colon wins even before the marker") << "x:ECU: 01" << QByteArray::fromHex("0001") << 0 << 0
                                                             << 59.0 << QList<double>{0.125, -30.0, 0.0, 0.0, 0.0}
                                                             << QStringList{};
    QTest::newRow("signs and prefixes convert, huge values do not") << "ECU:0x1A +1A -1A 7FFFFFFF FFFFFFFF"
                                                                    << QByteArray::fromHex("1a1ae6ff00") << 0 << 0
                                                                    << 59.0 << QList<double>{3.25, 78.1, 0.0, 0.0, 0.0}
                                                                    << QStringList{};
}

void TestDecoder::decodesFrames()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(int, vehicleSpeed);
    QFETCH(int, engineSpeed);
    QFETCH(double, coolant);
    QFETCH(QList<double>, values);
    QFETCH(QStringList, flags);

    BackEnd backEnd;
    QSignalSpy changed(&backEnd, &BackEnd::deviceInfoListChanged);
    TestAccess::decode(backEnd, text);
    const EngineData &data = TestAccess::engine(backEnd);
    QCOMPARE(TestAccess::link(backEnd).frameBytes.toHex(), bytes.toHex());
    QCOMPARE(data.vehicleSpeed, vehicleSpeed);
    QCOMPARE(data.engineSpeed, engineSpeed);
    QVERIFY2(near(data.coolantTemp, coolant), qPrintable(QString::number(data.coolantTemp)));
    const QList<double> decoded = {data.byte1Value, data.byte2Value, data.byte3Value, data.byte5Value, data.byte7Value};
    for (int i = 0; i < values.size(); ++i)
        QVERIFY2(near(decoded.at(i), values.at(i)), qPrintable(QString::number(decoded.at(i))));
    QCOMPARE(setFlags(data), flags);
    QCOMPARE(changed.count(), 1);
}

void TestDecoder::everyFrameReplacesEveryField()
{
    BackEnd backEnd;
    TestAccess::decode(backEnd, "ECU:FF FF FF FF FF FF FF FF FF FF FF FF FF");
    TestAccess::decode(backEnd, "ECU:");
    const EngineData &data = TestAccess::engine(backEnd);
    QCOMPARE(data.vehicleSpeed, 0);
    QCOMPARE(data.engineSpeed, 0);
    QCOMPARE(data.coolantTemp, 59.0);
    QCOMPARE(data.byte2Value, -30.0);
    QCOMPARE(setFlags(data), QStringList());
    QVERIFY(TestAccess::link(backEnd).frameBytes.isEmpty());
}

void TestDecoder::coolantCurve_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<double>("celsius");

    const QList<QPair<int, double>> ends = {
        {0, 59.0},      {5, 59.0},       {6, -58.142},    {15, -39.566},  {16, -38.996},   {39, -19.814},
        {40, -19.415},  {81, -0.268},    {82, 0.145},     {134, 19.749},  {135, 20.193},   {180, 39.813},
        {181, 40.365},  {200, 53.0},     {210, 59.65},    {211, 60.342},  {228, 79.943},   {229, 82.324},
        {237, 99.756},  {238, 103.015},  {243, 120.84},   {244, 129.692}, {245, 137.535},  {246, 141.0},
        {255, 141.0},
    };
    for (const auto &end : ends)
        QTest::addRow("raw %d", end.first) << end.first << end.second;
}

void TestDecoder::coolantCurve()
{
    QFETCH(int, raw);
    QFETCH(double, celsius);
    const double actual = Drivers::coolantCurve(raw);
    QVERIFY2(std::abs(actual - celsius) < 1e-9, qPrintable(QString::number(actual, 'g', 17)));
}

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
