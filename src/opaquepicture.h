#ifndef OPAQUEPICTURE_H
#define OPAQUEPICTURE_H

#include <QImage>
#include <QList>
#include <QPointer>
#include <QQuickItem>
#include <QSharedPointer>

class QQuickItemGrabResult;

// A picture of another item without its alpha channel. The software renderer blends a picture
// with alpha into every frame it repaints, pixel by pixel; one without it copies, and it skips
// whatever such a picture covers. It copies only a picture that lies on whole pixels of the
// screen: anywhere else it resamples it.
class OpaquePicture : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(bool shown READ isShown NOTIFY shownChanged)
    // How far the parent lies right of and below a whole pixel of the screen, each from 0 to 1.
    Q_PROPERTY(QPointF parentFraction READ parentFraction NOTIFY parentFractionChanged)

public:
    explicit OpaquePicture(QQuickItem *parent = nullptr);
    ~OpaquePicture() override;

    static void registerQmlType();

    bool isShown() const;
    QPointF parentFraction() const;

    // Once ITEM, which must cover all its pixels, has been drawn: shows a picture of it,
    // unless ITEM changes size or the parent moves between pixels meanwhile.
    Q_INVOKABLE void take(QQuickItem *item);
    Q_INVOKABLE void clear();
    // What is drawn for a picture stays until it is shown, so pictures are taken one at a
    // time: turn() tells that none is being taken before this one.
    Q_INVOKABLE void waitForTurn();

signals:
    void shownChanged();
    void parentFractionChanged();
    void turn();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private slots:
    void followParentFraction();
    void giveTurn();

private:
    static QList<QPointer<OpaquePicture>> &waiting();
    void drop();
    void endTurn();
    void show(QImage &&grabbed);

    QSharedPointer<QQuickItemGrabResult> grab;
    QImage picture; // until a texture holds it
    bool pictureChanged = false;
    bool shown = false;
    int takes = 0; // a clear() or take() drops what an earlier take() still brings
    QPointF m_parentFraction;
    QMetaObject::Connection following;
};

#endif // OPAQUEPICTURE_H
