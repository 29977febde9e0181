#include "fuzzsupport.h"

#include "backend.h"

#include <QCoreApplication>
#include <QNetworkInterface>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

namespace {

const QString on = QStringLiteral("1");
const QString off = QStringLiteral("0");
const QString initialSpeed = QStringLiteral("0.00");

bool onlyLoopbackIsUp()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (flags.testFlag(QNetworkInterface::IsUp) && !flags.testFlag(QNetworkInterface::IsLoopBack))
            return false;
    }
    return true;
}

const QString initialCoolant = QStringLiteral("0\u00BA");
const QString celsius = QStringLiteral("\u00BAC");

struct FixedLabel
{
    int slot;
    const char *text;
};

constexpr FixedLabel fixedLabels[] = {
    {DeviceInfoSlot::ColdLabel, "CLD"},         {DeviceInfoSlot::WarmLabel, "WRM"},
    {DeviceInfoSlot::ParkNeutralLabel, "P/N"}, {DeviceInfoSlot::LinkLabel, "WIFI"},
    {DeviceInfoSlot::ExitLabel, "EXIT"},
};

// An optional minus and at least one digit, nothing else.
bool isDecimal(QStringView text)
{
    if (text.startsWith(QLatin1Char('-')))
        text = text.mid(1);
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

QString textAt(const QVariantList &list, int slot)
{
    return list.at(slot).toString();
}

} // namespace

void initialise()
{
    static int argc = 1;
    static char name[] = "motrel-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    Q_UNUSED(app);
    if (!onlyLoopbackIsUp()) {
        std::fprintf(stderr, "motrel-fuzz: a non-loopback interface is up; run inside `unshare -n` (scripts/fuzz does)\n");
        std::abort();
    }
}

void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "motrel-fuzz: broken invariant: %s %s\n", what, qPrintable(detail));
    std::abort();
}

void checkDeviceInfoList(const QVariantList &list)
{
    using namespace DeviceInfoSlot;
    FUZZ_REQUIRE(list.size() == Count, "the list holds 20 entries", QString::number(list.size()));
    for (int slot = 0; slot < Count; ++slot)
        FUZZ_REQUIRE(list.at(slot).userType() == QMetaType::QString, "every entry is a text", QString::number(slot));

    for (int slot : {ColdStatus, WarmStatus, CoolantStatus, ParkNeutralStatus, LinkStatus, ExitStatus}) {
        const QString status = textAt(list, slot);
        FUZZ_REQUIRE(status == on || status == off, "a status slot holds 1 or 0", QString::number(slot) + status);
    }
    FUZZ_REQUIRE(textAt(list, ExitStatus) == on, "the EXIT tile stays lit");

    for (int slot = PreviousVehicleSpeed; slot <= EngineSpeed; ++slot) {
        const QString speed = textAt(list, slot);
        FUZZ_REQUIRE(isDecimal(speed) || speed == initialSpeed, "a speed slot holds a decimal number",
                     QString::number(slot) + QLatin1Char(' ') + speed);
    }
    for (int slot = FirstSpare; slot < Count; ++slot)
        FUZZ_REQUIRE(textAt(list, slot) == off, "a spare slot stays 0", QString::number(slot));

    const QString coolant = textAt(list, CoolantLabel);
    FUZZ_REQUIRE(coolant == initialCoolant
                     || (coolant.endsWith(celsius) && isDecimal(QStringView(coolant).chopped(celsius.size()))),
                 "the coolant label is a whole temperature", coolant);
    for (const FixedLabel &label : fixedLabels)
        FUZZ_REQUIRE(textAt(list, label.slot) == QLatin1String(label.text), "the fixed labels never change",
                     textAt(list, label.slot));
}

} // namespace Fuzz
