#ifndef OPAQUEPICTURE_H
#define OPAQUEPICTURE_H

#include <QImage>
#include <QQuickItem>
#include <QSharedPointer>

class QQuickItemGrabResult;

// A picture of another item without its alpha channel. The software renderer blends a picture
// with alpha into every frame it repaints, pixel by pixel; one without it copies, and it skips
// whatever such a picture covers.
class OpaquePicture : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(bool shown READ isShown NOTIFY shownChanged)

public:
    explicit OpaquePicture(QQuickItem *parent = nullptr);

    static void registerQmlType();

    bool isShown() const;

    // Once ITEM, which must cover all its pixels, has been drawn: shows a picture of it,
    // unless ITEM changes size meanwhile.
    Q_INVOKABLE void take(QQuickItem *item);
    Q_INVOKABLE void clear();

signals:
    void shownChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *) override;

private:
    void show(const QImage &grabbed);

    QSharedPointer<QQuickItemGrabResult> grab;
    QImage picture;
    bool pictureChanged = false;
};

#endif // OPAQUEPICTURE_H
