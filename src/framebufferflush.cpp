#include <QBackingStore>
#include <QGuiApplication>
#include <QRegion>
#include <QtGlobal>

#include <dlfcn.h>

// Qt 5.15's linuxfb takes the bounding rectangle of a flushed region, fills it, and copies it
// twice on its way to the framebuffer. A frame of this dashboard dirties two needles far apart
// and the readouts between them, so most of what it copied had not changed: on a 1 GHz board
// that was a tenth of the dashboard's CPU. Handed one rectangle at a time, linuxfb copies only
// those. The executable's definition stands in for Qt's (the scene graph calls it through the
// dynamic linker); Qt's own is found behind it. Other platforms take a region whole, and some
// (eglfs) compose the whole screen at each flush, so they get it unchanged.
void QBackingStore::flush(const QRegion &region, QWindow *window, const QPoint &offset)
{
    using Flush = void (*)(QBackingStore *, const QRegion &, QWindow *, const QPoint &);
    static const auto qtFlush = reinterpret_cast<Flush>(
        dlsym(RTLD_NEXT, "_ZN13QBackingStore5flushERK7QRegionP7QWindowRK6QPoint"));
    static const bool oneByOne = QGuiApplication::platformName() == QLatin1String("linuxfb");
    if (!qtFlush)
        qFatal("QBackingStore::flush: Qt's own is not found behind the executable's (%s)", dlerror());
    if (!oneByOne || region.rectCount() < 2) {
        qtFlush(this, region, window, offset);
        return;
    }
    for (const QRect &rect : region)
        qtFlush(this, QRegion(rect), window, offset);
}
