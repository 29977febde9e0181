#include "ecuframe.h"

#include "drivers.h"

#include <QtGlobal>

namespace {

char clampedByte(int value)
{
    return static_cast<char>(qBound(0, value, 0xFF));
}

// The curve rises steadily from here on; below it sits a constant 59 °C.
constexpr int firstRisingRaw = 6;
constexpr int lastRisingRaw = 245;

} // namespace

QByteArray EcuFrame::bytes() const
{
    using namespace BridgeProtocol;
    QByteArray frame(wholeFrameBytes, '\0');
    frame[engineSpeedByte] = clampedByte((rpm + rpmPerEngineSpeedStep / 2) / rpmPerEngineSpeedStep);
    frame[coolantByte] = clampedByte(coolantRaw);
    frame[vehicleSpeedByte] = clampedByte(speedKph);
    frame[statusByte11] = static_cast<char>((cold ? coldBit : 0) | (warm ? warmBit : 0));
    frame[statusByte12] = static_cast<char>(parkNeutral ? parkNeutralBit : 0);
    return frame;
}

QByteArray EcuFrame::line(const QByteArray &frameBytes)
{
    QByteArray text(BridgeProtocol::ecuMarker);
    for (const char byte : frameBytes)
        text += ' ' + QByteArray::number(static_cast<quint8>(byte), 16).rightJustified(2, '0').toUpper();
    return text + BridgeProtocol::lineEnd;
}

int EcuFrame::coolantRawFor(double celsius)
{
    for (int raw = firstRisingRaw; raw <= lastRisingRaw; ++raw) {
        if (Drivers::coolantCurve(raw) >= celsius)
            return raw;
    }
    return lastRisingRaw + 1;
}
