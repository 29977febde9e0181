#include "backend.h"

#include "drivers.h"

#include <QQmlEngine>

namespace {

const QString on = QStringLiteral("1");
const QString off = QStringLiteral("0");

QString flagText(bool flag)
{
    return flag ? on : off;
}

} // namespace

BackEnd::BackEnd(QObject *parent)
    : QObject(parent)
{
    // Drivers can deliver nothing before the event loop runs, so the list may follow it.
    drivers = std::make_unique<Drivers>(this, nullptr);
    infoList = {
        off, QStringLiteral("CLD"),
        off, QStringLiteral("WRM"),
        off, QStringLiteral("0\u00BA"),
        off, QStringLiteral("P/N"),
        off, QStringLiteral("WIFI"),
        on, QStringLiteral("EXIT"),
        off, QStringLiteral("0.00"),
        off, QStringLiteral("0.00"),
        off, off, off, off,
    };
    engineData = std::make_unique<EngineData>();
}

BackEnd::~BackEnd() = default;

void BackEnd::registerQmlType()
{
    qmlRegisterType<BackEnd>("vorel.wireless", 1, 0, "BackEnd");
}

QVariantList BackEnd::deviceinfoList() const
{
    return infoList;
}

void BackEnd::demoDemandByUser()
{
    ++drivers->linkState->demoDemand;
}

void BackEnd::refreshFromEngineData()
{
    using namespace DeviceInfoSlot;
    setSlot(PreviousVehicleSpeed, slotText(VehicleSpeed));
    setSlot(VehicleSpeed, QString::number(engineData->vehicleSpeed));
    setSlot(PreviousEngineSpeed, slotText(EngineSpeed));
    setSlot(EngineSpeed, QString::number(engineData->engineSpeed));
    setSlot(ColdStatus, flagText(engineData->coldFlag));
    setSlot(WarmStatus, flagText(engineData->warmFlag));
    setSlot(CoolantStatus, on);
    setSlot(CoolantLabel, QStringLiteral("%1\u00BAC").arg(static_cast<int>(engineData->coolantTemp)));
    setSlot(ParkNeutralStatus, flagText(engineData->parkNeutralFlag));
    emit deviceInfoListChanged();
}

void BackEnd::markLinkAlive()
{
    if (slotText(DeviceInfoSlot::LinkStatus) == on)
        return;
    setSlot(DeviceInfoSlot::LinkStatus, on);
    emit deviceInfoListChanged();
}

void BackEnd::markLinkLost()
{
    if (slotText(DeviceInfoSlot::LinkStatus) == off)
        return;
    setSlot(DeviceInfoSlot::LinkStatus, off);
    for (int slot = DeviceInfoSlot::PreviousVehicleSpeed; slot < DeviceInfoSlot::Count; ++slot)
        setSlot(slot, off);
    emit deviceInfoListChanged();
}

void BackEnd::setSlot(int slot, const QString &text)
{
    infoList[slot] = text;
}

QString BackEnd::slotText(int slot) const
{
    return infoList.at(slot).toString();
}
