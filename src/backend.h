#ifndef BACKEND_H
#define BACKEND_H

#include <QObject>
#include <QVariantList>

#include <memory>

class Drivers;

// Decoded engine values; written by Drivers, rendered by BackEnd.
struct EngineData
{
    qint32 vehicleSpeed = 0;
    qint32 engineSpeed = 0;
    double coolantTemp = 0.0;
    double byte1Value = 0.0;
    double byte2Value = 0.0;
    double byte3Value = 0.0;
    double byte7Value = 0.0;
    double byte5Value = 0.0;
    bool warmFlag = false;
    bool coldFlag = false;
    bool byte11Bit4 = false;
    bool byte11Bit5 = false;
    bool byte11Bit6 = false;
    bool byte12Bit0 = false;
    bool byte12Bit1 = false;
    bool byte12Bit2 = false;
    bool parkNeutralFlag = false;
    bool byte12Bit4 = false;
    bool byte12Bit5 = false;
    bool byte12Bit7 = false;
};

// The 20 texts the scene binds to, addressed by DeviceInfoSlot.
using DeviceInfoList = QVariantList;

namespace DeviceInfoSlot {
enum : int {
    ColdStatus = 0,
    ColdLabel,
    WarmStatus,
    WarmLabel,
    CoolantStatus,
    CoolantLabel,
    ParkNeutralStatus,
    ParkNeutralLabel,
    LinkStatus,
    LinkLabel,
    ExitStatus,
    ExitLabel,
    PreviousVehicleSpeed,
    VehicleSpeed,
    PreviousEngineSpeed,
    EngineSpeed,
    FirstSpare,
    Count = 20
};
}

class BackEnd : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList deviceinfoList READ deviceinfoList NOTIFY deviceInfoListChanged)

public:
    explicit BackEnd(QObject *parent = nullptr);
    ~BackEnd() override;

    // Makes the type known to QML as "BackEnd" of vorel.wireless 1.0.
    static void registerQmlType();

    QVariantList deviceinfoList() const;

    Q_INVOKABLE void demoDemandByUser();

signals:
    void deviceInfoListChanged();

private:
    friend class Drivers;
    friend class TestAccess;

    void refreshFromEngineData();
    void markLinkAlive();
    void markLinkLost();
    void setSlot(int slot, const QString &text);
    QString slotText(int slot) const;

    DeviceInfoList infoList;
    std::unique_ptr<Drivers> drivers;
    std::unique_ptr<EngineData> engineData;
};

#endif // BACKEND_H
