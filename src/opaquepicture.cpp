#include "opaquepicture.h"

#include <QPointer>
#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QSGImageNode>
#include <qqml.h>

OpaquePicture::OpaquePicture(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents);
}

void OpaquePicture::registerQmlType()
{
    qmlRegisterType<OpaquePicture>("motrel.scene", 1, 0, "OpaquePicture");
}

bool OpaquePicture::isShown() const
{
    return !picture.isNull();
}

void OpaquePicture::take(QQuickItem *item)
{
    clear();
    if (!item)
        return;
    grab = item->grabToImage();
    if (!grab)
        return;
    const QSizeF size = item->size();
    const QPointer<QQuickItem> grabbed(item);
    QQuickItemGrabResult *result = grab.data();
    // A later take() or clear() deletes the grab, and its connection with it.
    connect(result, &QQuickItemGrabResult::ready, this, [this, result, size, grabbed] {
        if (grabbed && grabbed->size() == size)
            show(result->image());
        // The grab goes once its signal is over.
        QMetaObject::invokeMethod(this, [done = std::move(grab)] {}, Qt::QueuedConnection);
    });
}

void OpaquePicture::clear()
{
    grab.reset();
    show(QImage());
}

void OpaquePicture::show(const QImage &grabbed)
{
    const bool wasShown = isShown();
    picture = grabbed.isNull() ? QImage() : grabbed.convertToFormat(QImage::Format_RGB32);
    pictureChanged = true;
    update();
    if (wasShown != isShown())
        emit shownChanged();
}

QSGNode *OpaquePicture::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    auto *node = static_cast<QSGImageNode *>(oldNode);
    if (pictureChanged || picture.isNull()) {
        delete node;
        node = nullptr;
        pictureChanged = false;
    }
    if (picture.isNull())
        return nullptr;
    if (!node) {
        node = window()->createImageNode();
        node->setOwnsTexture(true);
        node->setTexture(window()->createTextureFromImage(picture));
    }
    node->setRect(boundingRect());
    return node;
}
