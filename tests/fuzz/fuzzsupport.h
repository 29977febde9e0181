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

// The list's shape holds whatever arrived: 20 texts, flags, fixed labels, decimal speeds.
void checkDeviceInfoList(const QVariantList &list);

} // namespace Fuzz

// Fails with `what` and an optional detail, which is only built when the check fails.
#define FUZZ_REQUIRE(condition, ...)                                                                                   \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            Fuzz::fail(__VA_ARGS__);                                                                                   \
    } while (false)

#endif // FUZZSUPPORT_H
