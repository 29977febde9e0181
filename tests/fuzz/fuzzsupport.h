#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QString>
#include <QVariantList>

// Shared by the fuzz targets: the Qt application, the isolation guard, and the
// checks on what the scene would see.
namespace Fuzz {

// Creates the application object; aborts unless only loopback is up, because
// the back end answers every "SN:" datagram towards the bridge's address.
void initialise();

[[noreturn]] void fail(const char *what, const QString &detail = QString());

inline void require(bool condition, const char *what, const QString &detail = QString())
{
    if (!condition)
        fail(what, detail);
}

// The list's shape holds whatever arrived: 20 texts, flags, fixed labels, decimal speeds.
void checkDeviceInfoList(const QVariantList &list);

} // namespace Fuzz

#endif // FUZZSUPPORT_H
