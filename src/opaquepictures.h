#ifndef OPAQUEPICTURES_H
#define OPAQUEPICTURES_H

#include <QObject>
#include <QUrl>

#include <memory>

class QImage;
class QQmlEngine;

// Pictures the scene hands back to itself without their alpha channel, as image://opaque/N.
// The software renderer blends a picture with alpha into every frame it repaints, pixel by
// pixel, and copies one without; and it skips what an opaque picture covers.
class OpaquePictures : public QObject
{
    Q_OBJECT

public:
    struct Store;

    // Makes the pictures reachable from QML as opaquePictures and image://opaque/.
    static void install(QQmlEngine *engine);

    // PICTURE, which must cover all its pixels, as a URL an Image reads once.
    Q_INVOKABLE QUrl add(const QImage &picture);

private:
    OpaquePictures(std::shared_ptr<Store> store, QObject *parent);

    std::shared_ptr<Store> store;
    int added = 0;
};

#endif // OPAQUEPICTURES_H
