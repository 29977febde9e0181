// Any text through the ECU frame decoder: one byte per token, values in range,
// and the list shows exactly what was decoded.
#include "fuzzsupport.h"
#include "testaccess.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr int maxByte = 255;
constexpr int engineSpeedScale = 25;
constexpr double coldestCoolant = -58.142;
constexpr double hottestCoolant = 141.0;

QString flagText(bool flag)
{
    return flag ? QStringLiteral("1") : QStringLiteral("0");
}

void checkEngineData(const EngineData &engine)
{
    FUZZ_REQUIRE(engine.vehicleSpeed >= 0 && engine.vehicleSpeed <= maxByte, "vehicle speed is one byte",
                 QString::number(engine.vehicleSpeed));
    FUZZ_REQUIRE(engine.engineSpeed >= 0 && engine.engineSpeed <= maxByte * engineSpeedScale
                     && engine.engineSpeed % engineSpeedScale == 0,
                 "engine speed is a byte times 25", QString::number(engine.engineSpeed));
    FUZZ_REQUIRE(engine.coolantTemp >= coldestCoolant - 1e-9 && engine.coolantTemp <= hottestCoolant,
                 "coolant stays on its curve", QString::number(engine.coolantTemp));
    FUZZ_REQUIRE(engine.byte7Value >= 0.0 && engine.byte7Value <= maxByte / 2, "byte 7 is halved",
                 QString::number(engine.byte7Value));
}

void checkShown(const QVariantList &list, const EngineData &engine)
{
    using namespace DeviceInfoSlot;
    FUZZ_REQUIRE(list.at(VehicleSpeed).toString() == QString::number(engine.vehicleSpeed), "speed shown as decoded");
    FUZZ_REQUIRE(list.at(EngineSpeed).toString() == QString::number(engine.engineSpeed), "rpm shown as decoded");
    FUZZ_REQUIRE(list.at(ColdStatus).toString() == flagText(engine.coldFlag), "CLD shown as decoded");
    FUZZ_REQUIRE(list.at(WarmStatus).toString() == flagText(engine.warmFlag), "WRM shown as decoded");
    FUZZ_REQUIRE(list.at(ParkNeutralStatus).toString() == flagText(engine.parkNeutralFlag), "P/N shown as decoded");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static BackEnd backEnd;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    TestAccess::decode(backEnd, text);

    const QString payload = text.mid(text.indexOf(QLatin1Char(':')) + 1).trimmed();
    const int tokens = payload.split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
    const QByteArray &bytes = TestAccess::link(backEnd).frameBytes;
    FUZZ_REQUIRE(bytes.size() == tokens, "one frame byte per token",
                 QString::number(bytes.size()) + QLatin1Char('/') + QString::number(tokens));

    const EngineData &engine = TestAccess::engine(backEnd);
    checkEngineData(engine);
    const QVariantList list = backEnd.deviceinfoList();
    Fuzz::checkDeviceInfoList(list);
    checkShown(list, engine);
    return 0;
}
