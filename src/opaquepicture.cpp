#include "opaquepicture.h"

#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QSGImageNode>
#include <qqml.h>

#include <cmath>

namespace {

// A place a rounding error short of a whole pixel counts as on it.
qreal fractionOfPixel(qreal place)
{
    constexpr qreal roundingError = 1e-6;
    return std::max(0.0, place - std::floor(place + roundingError));
}

} // namespace

OpaquePicture::OpaquePicture(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents);
}

OpaquePicture::~OpaquePicture()
{
    endTurn();
}

void OpaquePicture::registerQmlType()
{
    qmlRegisterType<OpaquePicture>("motrel.scene", 1, 0, "OpaquePicture");
}

bool OpaquePicture::isShown() const
{
    return shown;
}

QPointF OpaquePicture::parentFraction() const
{
    return m_parentFraction;
}

void OpaquePicture::followParentFraction()
{
    const QPointF place = parentItem() ? parentItem()->mapToScene(QPointF()) : QPointF();
    const QPointF fraction(fractionOfPixel(place.x()), fractionOfPixel(place.y()));
    if (fraction == m_parentFraction)
        return;
    m_parentFraction = fraction;
    emit parentFractionChanged();
}

void OpaquePicture::itemChange(ItemChange change, const ItemChangeData &value)
{
    if (change == ItemSceneChange) {
        // The window tells after each frame's layout, before the scene is synchronised.
        disconnect(following);
        if (value.window)
            following = connect(value.window, &QQuickWindow::afterAnimating, this, &OpaquePicture::followParentFraction);
    }
    QQuickItem::itemChange(change, value);
}

QList<QPointer<OpaquePicture>> &OpaquePicture::waiting()
{
    static QList<QPointer<OpaquePicture>> pictures;
    return pictures;
}

void OpaquePicture::waitForTurn()
{
    if (waiting().contains(this))
        return;
    waiting().append(this);
    if (waiting().first() == this)
        QMetaObject::invokeMethod(this, &OpaquePicture::giveTurn, Qt::QueuedConnection);
}

void OpaquePicture::giveTurn()
{
    if (!waiting().isEmpty() && waiting().first() == this)
        emit turn();
}

void OpaquePicture::endTurn()
{
    const bool hadTurn = !waiting().isEmpty() && waiting().first() == this;
    waiting().removeAll(this);
    waiting().removeAll(nullptr);
    if (hadTurn && !waiting().isEmpty())
        QMetaObject::invokeMethod(waiting().first(), &OpaquePicture::giveTurn, Qt::QueuedConnection);
}

void OpaquePicture::take(QQuickItem *item)
{
    drop();
    if (!item)
        return;
    grab = item->grabToImage();
    if (!grab)
        return;
    const QSizeF size = item->size();
    const QPointF fraction = m_parentFraction;
    const int taking = takes;
    const QPointer<QQuickItem> grabbed(item);
    QQuickItemGrabResult *result = grab.data();
    // A later take() or clear() deletes the grab, and its connection with it.
    connect(result, &QQuickItemGrabResult::ready, this, [this, result, size, fraction, taking, grabbed] {
        const bool stillFits = grabbed && grabbed->size() == size && m_parentFraction == fraction;
        QImage image = stillFits ? result->image() : QImage();
        if (image.isNull())
            endTurn();
        // The grab goes once its signal is over; the image is then the only copy left, and
        // loses its alpha in place.
        QMetaObject::invokeMethod(this, [this, done = std::move(grab), image, taking]() mutable {
            done.reset();
            if (!image.isNull() && takes == taking)
                show(std::move(image));
        }, Qt::QueuedConnection);
    });
}

void OpaquePicture::clear()
{
    drop();
    endTurn();
}

void OpaquePicture::drop()
{
    ++takes;
    grab.reset();
    show(QImage());
}

void OpaquePicture::show(QImage &&grabbed)
{
    const bool wasShown = shown;
    picture = std::move(grabbed);
    picture.convertTo(QImage::Format_RGB32);
    shown = !picture.isNull();
    if (shown)
        endTurn();
    pictureChanged = true;
    update();
    if (wasShown != shown)
        emit shownChanged();
}

QSGNode *OpaquePicture::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    auto *node = static_cast<QSGImageNode *>(oldNode);
    if (pictureChanged) {
        delete node;
        node = nullptr;
        pictureChanged = false;
        if (!picture.isNull()) {
            node = window()->createImageNode();
            node->setOwnsTexture(true);
            node->setTexture(window()->createTextureFromImage(picture));
            // The texture keeps its own copy.
            picture = QImage();
        }
    } else if (!node && shown) {
        // The scene let go of the texture: the picture must be taken again.
        QMetaObject::invokeMethod(this, &OpaquePicture::clear, Qt::QueuedConnection);
    }
    if (node)
        node->setRect(boundingRect());
    return node;
}
