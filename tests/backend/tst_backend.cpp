#include "testaccess.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QPointer>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

using namespace DeviceInfoSlot;

class TestBackEnd : public QObject
{
    Q_OBJECT

private:
    static QString text(const BackEnd &backEnd, int slot) { return backEnd.deviceinfoList().at(slot).toString(); }

private slots:
    void publishesTheInitialTexts();
    void offersTheSceneItsInterface();
    void refreshRendersEngineData_data();
    void refreshRendersEngineData();
    void refreshMovesCurrentSpeedsToPrevious();
    void refreshEmitsEvenWhenNothingChanged();
    void linkChangesEmitOnlyOnChange_data();
    void linkChangesEmitOnlyOnChange();
    void linkLossResetsSpeedsAndKeepsStatuses();
    void refreshAfterLossMovesZeroNotInitialText();
    void demoDemandsNeverEmitAndWrapAt256();
    void destructionReleasesTheLink();
};

void TestBackEnd::publishesTheInitialTexts()
{
    BackEnd backEnd;
    const QStringList expected = {
        "0", "CLD", "0", "WRM", "0", QString::fromUtf8("0\u00BA"), "0", "P/N", "0", "WIFI",
        "1", "EXIT", "0", "0.00", "0", "0.00", "0", "0", "0", "0",
    };
    const QVariantList list = backEnd.deviceinfoList();
    QCOMPARE(list.size(), int(Count));
    for (int slot = 0; slot < Count; ++slot) {
        QCOMPARE(list.at(slot).userType(), int(QMetaType::QString));
        QCOMPARE(list.at(slot).toString(), expected.at(slot));
    }
}

void TestBackEnd::offersTheSceneItsInterface()
{
    const QMetaObject &meta = BackEnd::staticMetaObject;
    const QMetaProperty list = meta.property(meta.indexOfProperty("deviceinfoList"));
    QVERIFY(list.isReadable());
    QVERIFY(!list.isWritable());
    QVERIFY(!list.isConstant());
    QCOMPARE(list.notifySignal().name(), QByteArray("deviceInfoListChanged"));
    const int demo = meta.indexOfMethod("demoDemandByUser()");
    QVERIFY(demo >= 0);
    QCOMPARE(meta.method(demo).methodType(), QMetaMethod::Method);
    // Only the interface the scene uses is callable from QML.
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 2);
}

void TestBackEnd::refreshRendersEngineData_data()
{
    QTest::addColumn<double>("coolant");
    QTest::addColumn<bool>("cold");
    QTest::addColumn<bool>("warm");
    QTest::addColumn<bool>("parkNeutral");
    QTest::addColumn<QStringList>("statuses"); // slots 0, 2, 4, 6
    QTest::addColumn<QString>("coolantLabel");

    QTest::newRow("whole temperature, all flags") << 53.0 << true << true << true
                                                  << QStringList{"1", "1", "1", "1"} << QString::fromUtf8("53\u00BAC");
    QTest::newRow("negative fraction truncates toward zero") << -58.142 << false << false << false
                                                             << QStringList{"0", "0", "1", "0"} << "-58\u00BAC";
    QTest::newRow("small negative shows as zero") << -0.268 << true << false << false
                                                  << QStringList{"1", "0", "1", "0"} << "0\u00BAC";
    QTest::newRow("absent coolant byte") << 59.0 << false << true << false
                                         << QStringList{"0", "1", "1", "0"} << "59\u00BAC";
    QTest::newRow("hottest") << 141.0 << false << false << true << QStringList{"0", "0", "1", "1"} << "141\u00BAC";
    QTest::newRow("fraction below one degree") << 99.756 << false << false << false
                                               << QStringList{"0", "0", "1", "0"} << "99\u00BAC";
}

void TestBackEnd::refreshRendersEngineData()
{
    QFETCH(double, coolant);
    QFETCH(bool, cold);
    QFETCH(bool, warm);
    QFETCH(bool, parkNeutral);
    QFETCH(QStringList, statuses);
    QFETCH(QString, coolantLabel);

    BackEnd backEnd;
    EngineData &data = TestAccess::engine(backEnd);
    data.vehicleSpeed = 87;
    data.engineSpeed = -25;
    data.coolantTemp = coolant;
    data.coldFlag = cold;
    data.warmFlag = warm;
    data.parkNeutralFlag = parkNeutral;
    TestAccess::refresh(backEnd);

    QCOMPARE(text(backEnd, ColdStatus), statuses.at(0));
    QCOMPARE(text(backEnd, WarmStatus), statuses.at(1));
    QCOMPARE(text(backEnd, CoolantStatus), statuses.at(2));
    QCOMPARE(text(backEnd, ParkNeutralStatus), statuses.at(3));
    QCOMPARE(text(backEnd, CoolantLabel), coolantLabel);
    QCOMPARE(text(backEnd, VehicleSpeed), QString("87"));
    QCOMPARE(text(backEnd, EngineSpeed), QString("-25"));
    QCOMPARE(text(backEnd, LinkStatus), QString("0"));
    QCOMPARE(backEnd.deviceinfoList().size(), int(Count));
}

void TestBackEnd::refreshMovesCurrentSpeedsToPrevious()
{
    BackEnd backEnd;
    EngineData &data = TestAccess::engine(backEnd);
    data.vehicleSpeed = 40;
    data.engineSpeed = 2000;
    TestAccess::refresh(backEnd);
    QCOMPARE(text(backEnd, PreviousVehicleSpeed), QString("0.00"));
    QCOMPARE(text(backEnd, PreviousEngineSpeed), QString("0.00"));

    data.vehicleSpeed = 45;
    data.engineSpeed = 2250;
    TestAccess::refresh(backEnd);
    QCOMPARE(text(backEnd, PreviousVehicleSpeed), QString("40"));
    QCOMPARE(text(backEnd, VehicleSpeed), QString("45"));
    QCOMPARE(text(backEnd, PreviousEngineSpeed), QString("2000"));
    QCOMPARE(text(backEnd, EngineSpeed), QString("2250"));
}

void TestBackEnd::refreshEmitsEvenWhenNothingChanged()
{
    BackEnd backEnd;
    QSignalSpy changed(&backEnd, &BackEnd::deviceInfoListChanged);
    TestAccess::refresh(backEnd);
    TestAccess::refresh(backEnd);
    QCOMPARE(changed.count(), 2);
    // Nothing sets the coolant tile's status back.
    TestAccess::markLinkAlive(backEnd);
    TestAccess::markLinkLost(backEnd);
    QCOMPARE(text(backEnd, CoolantStatus), QString("1"));
}

void TestBackEnd::linkChangesEmitOnlyOnChange_data()
{
    QTest::addColumn<QString>("calls"); // a: markLinkAlive, l: markLinkLost
    QTest::addColumn<int>("emissions");
    QTest::addColumn<QString>("linkStatus");

    QTest::newRow("loss of a link never heard from") << "l" << 0 << "0";
    QTest::newRow("two alive calls emit once") << "aa" << 1 << "1";
    QTest::newRow("alive then lost") << "aal" << 2 << "0";
    QTest::newRow("repeated losses emit once") << "alll" << 2 << "0";
    QTest::newRow("link comes back") << "alaa" << 3 << "1";
}

void TestBackEnd::linkChangesEmitOnlyOnChange()
{
    QFETCH(QString, calls);
    QFETCH(int, emissions);
    QFETCH(QString, linkStatus);

    BackEnd backEnd;
    QSignalSpy changed(&backEnd, &BackEnd::deviceInfoListChanged);
    for (QChar call : calls) {
        if (call == 'a')
            TestAccess::markLinkAlive(backEnd);
        else
            TestAccess::markLinkLost(backEnd);
    }
    QCOMPARE(changed.count(), emissions);
    QCOMPARE(text(backEnd, LinkStatus), linkStatus);
}

void TestBackEnd::linkLossResetsSpeedsAndKeepsStatuses()
{
    BackEnd backEnd;
    EngineData &data = TestAccess::engine(backEnd);
    data.vehicleSpeed = 100;
    data.engineSpeed = 3000;
    data.coolantTemp = 85.0;
    data.coldFlag = true;
    data.parkNeutralFlag = true;
    TestAccess::refresh(backEnd);
    TestAccess::refresh(backEnd);
    TestAccess::markLinkAlive(backEnd);
    const QVariantList before = backEnd.deviceinfoList();

    TestAccess::markLinkLost(backEnd);
    const QVariantList after = backEnd.deviceinfoList();
    for (int slot = 0; slot < LinkStatus; ++slot)
        QCOMPARE(after.at(slot), before.at(slot));
    QCOMPARE(after.at(LinkStatus).toString(), QString("0"));
    QCOMPARE(after.at(ExitStatus), before.at(ExitStatus));
    QCOMPARE(after.at(ExitLabel), before.at(ExitLabel));
    for (int slot = PreviousVehicleSpeed; slot < Count; ++slot)
        QCOMPARE(after.at(slot).toString(), QString("0"));
}

void TestBackEnd::refreshAfterLossMovesZeroNotInitialText()
{
    BackEnd backEnd;
    TestAccess::markLinkAlive(backEnd);
    TestAccess::markLinkLost(backEnd);
    TestAccess::refresh(backEnd);
    QCOMPARE(text(backEnd, PreviousVehicleSpeed), QString("0"));
    QCOMPARE(text(backEnd, PreviousEngineSpeed), QString("0"));
}

void TestBackEnd::demoDemandsNeverEmitAndWrapAt256()
{
    BackEnd backEnd;
    QSignalSpy changed(&backEnd, &BackEnd::deviceInfoListChanged);
    const QVariantList before = backEnd.deviceinfoList();
    for (int call = 1; call <= 256; ++call) {
        backEnd.demoDemandByUser();
        QCOMPARE(int(TestAccess::link(backEnd).demoDemand), call % 256);
    }
    QCOMPARE(changed.count(), 0);
    QCOMPARE(backEnd.deviceinfoList(), before);
}

void TestBackEnd::destructionReleasesTheLink()
{
    auto *backEnd = new BackEnd;
    QPointer<QUdpSocket> socket = TestAccess::socket(*backEnd);
    QPointer<QTimer> timer = TestAccess::timer(*backEnd);
    QVERIFY(socket && timer);
    delete backEnd;
    QVERIFY(socket.isNull());
    QVERIFY(timer.isNull());
    // The port is free again for the next dashboard.
    QUdpSocket next;
    QVERIFY(next.bind(QHostAddress::AnyIPv4, BridgeProtocol::port));
}

QTEST_GUILESS_MAIN(TestBackEnd)
#include "tst_backend.moc"
