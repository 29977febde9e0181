// A sequence of datagrams, ticks and demonstration demands through Drivers into
// BackEnd, checked after every step against a small model of the link: what is
// shown is always the newest frame made whole, unless it may have lost or gained
// a piece on the way: one put together from pieces, or that only the next marker
// ended, shows only as the bridge sends it, and one that only a marker ended
// shows only after three such frames in a row, which an identification or a lost
// link forgets.
//
// Input: records separated by the byte 0xFF. A record of the single byte 0xFE is
// a timer tick, of the single byte 0xFD a press on WIFI; any other record,
// the empty one included, is one datagram's bytes.
#include "fuzzsupport.h"
#include "testaccess.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cstdint>

namespace {

constexpr char recordSeparator = '\xff';
constexpr char tickRecord = '\xfe';
constexpr char demandRecord = '\xfd';

const QString on = QStringLiteral("1");
const QString off = QStringLiteral("0");

const QLatin1String ecuMarker(BridgeProtocol::ecuMarker);
const int markerLength = ecuMarker.size();

// A frame's place in the text since the latest reply: its marker, where it ends, and how.
struct FrameSpan
{
    int start = -1;
    int end = -1;
    bool pieced = false;
    bool lineEnded = false;
};

// What the link should have done so far, counted apart from Drivers.
struct Expected
{
    quint8 demands = 0;
    int silentTicks = 0;
    bool linkAlive = false;
    // Everything received since the latest reply, and the frame in it still awaiting its end.
    QString text;
    int openFrame = -1;
    int markerEndedInARow = 0;

    bool demo() const { return demands > BridgeProtocol::maxDemandsBeforeDemo; }

    // Appends a datagram's text; returns the newest frame that it made whole, if any.
    FrameSpan frameCompletedBy(const QString &received)
    {
        const int before = text.size();
        const int scanFrom = openFrame >= 0 ? openFrame : qMax(0, before - (markerLength - 1));
        text += received;
        FrameSpan newest;
        openFrame = -1;
        for (int marker = text.indexOf(ecuMarker, scanFrom); marker >= 0;) {
            const int next = text.indexOf(ecuMarker, marker + markerLength);
            // An open frame had no line end before this datagram.
            const int end = lineEndBefore(qMax(marker + markerLength, before), next >= 0 ? next : text.size());
            if (end >= 0 || next >= 0) {
                newest = {marker, end >= 0 ? end : next, marker < before, end >= 0};
                markerEndedInARow = newest.lineEnded ? 0 : markerEndedInARow + 1;
            } else {
                openFrame = marker;
            }
            marker = next;
        }
        // A frame that outgrows the bound before its end arrives is never shown.
        if (openFrame >= 0 && text.size() - openFrame > BridgeProtocol::receiveBufferLimit)
            openFrame = -1;
        return newest;
    }

    int lineEndBefore(int from, int limit) const
    {
        // The next marker can begin before this datagram, which completes it.
        if (from >= limit)
            return -1;
        const QStringView range = QStringView(text).mid(from, limit - from);
        for (const QChar lineEnd : {QLatin1Char('\r'), QLatin1Char('\n')}) {
            const qsizetype found = range.indexOf(lineEnd);
            if (found >= 0)
                limit = qMin(limit, from + static_cast<int>(found));
        }
        return limit < from + range.size() ? limit : -1;
    }
};

// Decodes the expected frame without any buffering in the way.
BackEnd &reference()
{
    static BackEnd backEnd;
    return backEnd;
}

// The reference's bytes of a frame, which it then shows.
const QByteArray &referenceBytes(const QString &frame)
{
    // Inputs repeat their frames; the reference already shows a frame it decoded last.
    static QString referenceFrame;
    if (frame != referenceFrame) {
        TestAccess::decode(reference(), frame);
        referenceFrame = frame;
    }
    return TestAccess::link(reference()).frameBytes;
}

// What the bridge sends after its marker: every byte of a frame in one or two hexadecimal digits.
bool isAsSent(const QString &frame)
{
    static const QRegularExpression asSent = [] {
        const QString hexByte = QStringLiteral("[0-9A-Fa-f]{1,%1}").arg(BridgeProtocol::maxDigitsPerByte);
        return QRegularExpression(
            QStringLiteral("^%1(?: +%1){%2}$").arg(hexByte).arg(BridgeProtocol::wholeFrameBytes - 1));
    }();
    return asSent.match(frame.mid(markerLength).trimmed()).hasMatch();
}

// Whether a frame made whole by the newest datagram is shown.
bool shows(const FrameSpan &frame, const Expected &expected)
{
    if (frame.start < 0 || expected.demo())
        return false;
    if (!frame.lineEnded && expected.markerEndedInARow < BridgeProtocol::openLinesAfterFrames)
        return false;
    return (frame.lineEnded && !frame.pieced) || isAsSent(expected.text.mid(frame.start, frame.end - frame.start));
}

void checkFrameShown(BackEnd &backEnd, const QString &frame)
{
    FUZZ_REQUIRE(TestAccess::link(backEnd).frameBytes == referenceBytes(frame), "the newest whole frame is decoded",
                 frame.left(80));
    const QVariantList shown = backEnd.deviceinfoList();
    const QVariantList wanted = reference().deviceinfoList();
    using namespace DeviceInfoSlot;
    for (int slot : {ColdStatus, WarmStatus, CoolantStatus, CoolantLabel, ParkNeutralStatus, VehicleSpeed, EngineSpeed})
        FUZZ_REQUIRE(shown.at(slot) == wanted.at(slot), "the newest whole frame is shown", QString::number(slot));
}

// Announced changes of the list; holding a copy of the list instead would make every write copy it.
int listChanges = 0;

// One back end for the process, reset after each input: a new one would cost a socket, a bind and a timer.
struct Fuzzed
{
    BackEnd backEnd;
    const QVariantList newList = backEnd.deviceinfoList();

    Fuzzed() { QObject::connect(&backEnd, &BackEnd::deviceInfoListChanged, [] { ++listChanges; }); }
};

void receive(BackEnd &backEnd, const QByteArray &datagram, Expected &expected)
{
    const LinkState &link = TestAccess::link(backEnd);
    const QString text = QString::fromUtf8(datagram);
    const QString bufferBefore = link.receiveBuffer;
    const QByteArray framesBefore = link.frameBytes;
    const bool linkWasAlive = expected.linkAlive;
    const int changesBefore = listChanges + (linkWasAlive ? 0 : 1);
    TestAccess::receive(backEnd, datagram);
    expected.silentTicks = 0;
    expected.linkAlive = true;

    // While it stays alive, any change to the list is counted below.
    if (!linkWasAlive)
        FUZZ_REQUIRE(backEnd.deviceinfoList().at(DeviceInfoSlot::LinkStatus) == on, "a datagram marks the link alive");
    FUZZ_REQUIRE(link.silentTicks == 0, "a datagram ends the silence");
    const QString &buffer = link.receiveBuffer;
    FUZZ_REQUIRE(buffer.size() <= BridgeProtocol::receiveBufferLimit, "the receive buffer stays bounded",
                 QString::number(buffer.size()));

    // Earlier text never holds "SN:", or it would have been answered; only its tail can join.
    const QLatin1String serialMarker(BridgeProtocol::serialMarker);
    const int before = expected.text.size();
    const FrameSpan frame = expected.frameCompletedBy(text);
    if (expected.text.indexOf(serialMarker, qMax(0, before - (serialMarker.size() - 1))) >= 0) {
        const QString seen = bufferBefore + text;
        FUZZ_REQUIRE(buffer.isEmpty(), "an identification is answered, which empties the buffer");
        FUZZ_REQUIRE(link.snLine == seen.trimmed(), "the identification line is kept whole", link.snLine.left(80));
        FUZZ_REQUIRE(listChanges == changesBefore, "an identification is not decoded as a frame");
        expected.text.clear();
        expected.openFrame = -1;
        expected.markerEndedInARow = 0;
        return;
    }
    const bool decoded = shows(frame, expected);
    // Only a frame still open, or what could start a marker, is kept.
    FUZZ_REQUIRE(expected.text.endsWith(buffer), "the buffer keeps only the newest text", buffer.left(80));
    if (expected.openFrame >= 0)
        FUZZ_REQUIRE(buffer == expected.text.midRef(expected.openFrame), "the open frame waits whole", buffer.left(80));
    else
        FUZZ_REQUIRE(!buffer.contains(ecuMarker), "no decoded frame stays behind", buffer.left(80));

    FUZZ_REQUIRE(listChanges == changesBefore + (decoded ? 1 : 0), "one refresh for each decoded frame, else none",
                 frame.start < 0 ? QStringLiteral("no whole frame") : QStringLiteral("not shown"));
    if (decoded)
        checkFrameShown(backEnd, expected.text.mid(frame.start, frame.end - frame.start));
    else
        FUZZ_REQUIRE(link.frameBytes == framesBefore, "nothing decoded");
}

void tick(BackEnd &backEnd, Expected &expected)
{
    using namespace DeviceInfoSlot;
    // Only loopback is up here, so the address test would always fail: skip its interface scan.
    TestAccess::tickOffBridgeNetwork(backEnd);
    const QVariantList list = backEnd.deviceinfoList();
    if (expected.demo()) {
        for (int slot : {ColdStatus, WarmStatus, CoolantStatus, ParkNeutralStatus})
            FUZZ_REQUIRE(list.at(slot) == on, "a demonstration tick lights the status tiles", QString::number(slot));
        FUZZ_REQUIRE(list.at(CoolantLabel) == QStringLiteral("85\u00BAC"), "a demonstration tick shows 85ºC");
        return;
    }
    if (++expected.silentTicks <= BridgeProtocol::maxSilentTicks)
        return;
    expected.markerEndedInARow = 0;
    FUZZ_REQUIRE(list.at(LinkStatus) == off, "five silent ticks lose the link");
    if (!expected.linkAlive)
        return;
    expected.linkAlive = false;
    for (int slot = PreviousVehicleSpeed; slot < Count; ++slot)
        FUZZ_REQUIRE(list.at(slot) == off, "a lost link zeroes the gauges", QString::number(slot));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Fuzzed fuzzed;
    BackEnd &backEnd = fuzzed.backEnd;
    Expected expected;
    const char *const begin = reinterpret_cast<const char *>(data);
    const char *const end = begin + size;
    for (const char *recordStart = begin; recordStart <= end;) {
        const auto *separator = static_cast<const char *>(std::memchr(recordStart, recordSeparator, end - recordStart));
        const char *const recordEnd = separator ? separator : end;
        const QByteArray record = QByteArray::fromRawData(recordStart, static_cast<int>(recordEnd - recordStart));
        recordStart = recordEnd + 1;
        const int changesBefore = listChanges;
        if (record.size() == 1 && record.at(0) == tickRecord) {
            tick(backEnd, expected);
        } else if (record.size() == 1 && record.at(0) == demandRecord) {
            backEnd.demoDemandByUser();
            ++expected.demands;
        } else {
            receive(backEnd, record, expected);
        }
        FUZZ_REQUIRE(TestAccess::link(backEnd).demoDemand == expected.demands, "every press is counted");
        if (listChanges != changesBefore)
            Fuzz::checkDeviceInfoList(backEnd.deviceinfoList());
    }
    // Whatever the input left behind goes now, so inputs allocate and free alike.
    TestAccess::reset(backEnd, fuzzed.newList);
    return 0;
}
