// A sequence of datagrams, ticks and demonstration demands through Drivers into
// BackEnd, checked after every step against a small model of the link.
//
// Input: records separated by the byte 0xFF. A record of the single byte 0xFE is
// a timer tick, of the single byte 0xFD a press on WIFI; any other record,
// the empty one included, is one datagram's bytes.
#include "fuzzsupport.h"
#include "testaccess.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr char recordSeparator = '\xff';
constexpr char tickRecord = '\xfe';
constexpr char demandRecord = '\xfd';

const QString on = QStringLiteral("1");
const QString off = QStringLiteral("0");

// What the link should have done so far, counted apart from Drivers.
struct Expected
{
    quint8 demands = 0;
    int silentTicks = 0;

    bool demo() const { return demands > BridgeProtocol::maxDemandsBeforeDemo; }
};

// Decodes the expected newest frame without any buffering in the way.
BackEnd &reference()
{
    static BackEnd backEnd;
    return backEnd;
}

void checkNewestFrameShown(BackEnd &backEnd, const QString &frame)
{
    TestAccess::decode(reference(), frame);
    Fuzz::require(TestAccess::link(backEnd).frameBytes == TestAccess::link(reference()).frameBytes,
                  "the newest frame is decoded", frame.left(80));
    const QVariantList shown = backEnd.deviceinfoList();
    const QVariantList wanted = reference().deviceinfoList();
    using namespace DeviceInfoSlot;
    for (int slot : {ColdStatus, WarmStatus, CoolantStatus, CoolantLabel, ParkNeutralStatus, VehicleSpeed, EngineSpeed})
        Fuzz::require(shown.at(slot) == wanted.at(slot), "the newest frame is shown", QString::number(slot));
}

void receive(BackEnd &backEnd, const QByteArray &datagram, Expected &expected)
{
    const LinkState &link = TestAccess::link(backEnd);
    const QString seen = link.receiveBuffer + QString::fromUtf8(datagram);
    const QByteArray framesBefore = link.frameBytes;
    TestAccess::receive(backEnd, datagram);
    expected.silentTicks = 0;

    Fuzz::require(backEnd.deviceinfoList().at(DeviceInfoSlot::LinkStatus) == on, "a datagram marks the link alive");
    Fuzz::require(link.silentTicks == 0, "a datagram ends the silence");
    const QString &buffer = link.receiveBuffer;
    Fuzz::require(buffer.size() <= BridgeProtocol::receiveBufferLimit, "the receive buffer stays bounded",
                  QString::number(buffer.size()));

    if (seen.contains(QLatin1String(BridgeProtocol::serialMarker))) {
        Fuzz::require(buffer.isEmpty(), "an identification is answered, which empties the buffer");
        Fuzz::require(link.snLine == seen.trimmed(), "the identification line is kept whole");
        return;
    }
    // Only the newest frame, or the tail that could still complete a marker, is kept;
    // the newest frame is decoded whole before the buffer is cut to its bound.
    const int newest = seen.lastIndexOf(QLatin1String(BridgeProtocol::ecuMarker));
    const QString newestText = seen.mid(qMax(newest, 0));
    Fuzz::require(buffer == newestText.right(BridgeProtocol::receiveBufferLimit), "the buffer keeps the newest frame",
                  buffer.left(80));
    if (newest < 0)
        Fuzz::require(link.frameBytes == framesBefore, "no frame, no decoding");
    else if (expected.demo())
        Fuzz::require(link.frameBytes == framesBefore, "demonstration mode ignores frames");
    else
        checkNewestFrameShown(backEnd, newestText);
}

void tick(BackEnd &backEnd, Expected &expected)
{
    using namespace DeviceInfoSlot;
    const bool wasAlive = backEnd.deviceinfoList().at(LinkStatus) == on;
    TestAccess::tick(backEnd);
    const QVariantList list = backEnd.deviceinfoList();
    if (expected.demo()) {
        for (int slot : {ColdStatus, WarmStatus, CoolantStatus, ParkNeutralStatus})
            Fuzz::require(list.at(slot) == on, "a demonstration tick lights the status tiles", QString::number(slot));
        Fuzz::require(list.at(CoolantLabel) == QStringLiteral("85\u00BAC"), "a demonstration tick shows 85ºC");
        return;
    }
    if (++expected.silentTicks <= BridgeProtocol::maxSilentTicks)
        return;
    Fuzz::require(list.at(LinkStatus) == off, "five silent ticks lose the link");
    if (!wasAlive)
        return;
    for (int slot = PreviousVehicleSpeed; slot < Count; ++slot)
        Fuzz::require(list.at(slot) == off, "a lost link zeroes the gauges", QString::number(slot));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    BackEnd backEnd;
    Expected expected;
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<int>(size));
    for (const QByteArray &record : input.split(recordSeparator)) {
        if (record.size() == 1 && record.at(0) == tickRecord) {
            tick(backEnd, expected);
        } else if (record.size() == 1 && record.at(0) == demandRecord) {
            backEnd.demoDemandByUser();
            ++expected.demands;
        } else {
            receive(backEnd, record, expected);
        }
        Fuzz::require(TestAccess::link(backEnd).demoDemand == expected.demands, "every press is counted");
        Fuzz::checkDeviceInfoList(backEnd.deviceinfoList());
    }
    return 0;
}
