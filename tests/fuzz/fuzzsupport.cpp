#include "fuzzsupport.h"

#include "backend.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QRegularExpression>

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
    require(list.size() == Count, "the list holds 20 entries", QString::number(list.size()));
    for (int slot = 0; slot < Count; ++slot)
        require(list.at(slot).userType() == QMetaType::QString, "every entry is a text", QString::number(slot));

    for (int slot : {ColdStatus, WarmStatus, CoolantStatus, ParkNeutralStatus, LinkStatus, ExitStatus}) {
        const QString status = textAt(list, slot);
        require(status == on || status == off, "a status slot holds 1 or 0", QString::number(slot) + status);
    }
    require(textAt(list, ExitStatus) == on, "the EXIT tile stays lit");

    static const QRegularExpression decimal(QStringLiteral("\\A-?[0-9]+\\z"));
    for (int slot = PreviousVehicleSpeed; slot <= EngineSpeed; ++slot) {
        const QString speed = textAt(list, slot);
        require(decimal.match(speed).hasMatch() || speed == initialSpeed, "a speed slot holds a decimal number",
                QString::number(slot) + QLatin1Char(' ') + speed);
    }
    for (int slot = FirstSpare; slot < Count; ++slot)
        require(textAt(list, slot) == off, "a spare slot stays 0", QString::number(slot));

    static const QRegularExpression coolant(QStringLiteral("\\A(-?[0-9]+\u00BAC|0\u00BA)\\z"));
    require(coolant.match(textAt(list, CoolantLabel)).hasMatch(), "the coolant label is a whole temperature",
            textAt(list, CoolantLabel));
    const QStringList labels = {textAt(list, ColdLabel), textAt(list, WarmLabel), textAt(list, ParkNeutralLabel),
                                textAt(list, LinkLabel), textAt(list, ExitLabel)};
    require(labels == QStringList({QStringLiteral("CLD"), QStringLiteral("WRM"), QStringLiteral("P/N"),
                                   QStringLiteral("WIFI"), QStringLiteral("EXIT")}),
            "the fixed labels never change", labels.join(QLatin1Char(',')));
}

} // namespace Fuzz
