#ifndef READOUT_H
#define READOUT_H

#include <QCache>
#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QImage>
#include <QPainterPath>
#include <QQuickItem>
#include <QRawFont>

// A line of text drawn from glyphs rendered once. Qt keeps rendered glyphs only up to 64 pixels;
// larger ones it loads from the font and fills from their outlines again at every frame that
// shows them, and a readout's digits change at most frames while its needle moves. Each glyph
// is rendered where a Text of the same font puts it, to the same fraction of a pixel, so the two
// look alike, and shown on whole pixels of the screen, so that it is copied, not resampled.
class Readout : public QQuickItem
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(QFont font READ font WRITE setFont NOTIFY fontChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit Readout(QQuickItem *parent = nullptr);

    static void registerQmlType();

    QString text() const;
    void setText(const QString &text);
    QFont font() const;
    void setFont(const QFont &font);
    QColor color() const;
    void setColor(const QColor &color);

signals:
    void textChanged();
    void fontChanged();
    void colorChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private slots:
    void followScreenPlace();

private:
    // One glyph's coverage in the colour, keyed by glyph and by its origin's fraction of a pixel.
    struct Glyph
    {
        QImage picture;
        QPoint offset; // of the picture's top left from the origin's whole pixel
    };
    using GlyphKey = QPair<QRawFont, quint64>;
    // A glyph's picture where its node shows it, in the readout's own coordinates.
    struct PlacedGlyph
    {
        QImage picture;
        QRectF rect;
        bool sameAs(const PlacedGlyph &other) const
        {
            return picture.cacheKey() == other.picture.cacheKey() && rect == other.rect;
        }
    };
    // A text laid out in the readout's font.
    struct Line
    {
        QVector<QGlyphRun> runs;
        QSizeF size;
    };

    static GlyphKey glyphKey(const QRawFont &font, quint32 index, QPoint fraction);

    QPointF screenPlace() const;
    Line lineFor(const QString &text) const;
    void layOut();
    void redraw();
    const QPainterPath &outlineOf(const QRawFont &font, quint32 index);
    const Glyph &glyph(const QRawFont &font, quint32 index, QPointF fraction);
    // Each glyph's picture, placed on whole pixels of the screen.
    QVector<PlacedGlyph> placeGlyphs();
    QSGNode *glyphNode(const PlacedGlyph &placed) const;

    QString m_text;
    QFont m_font;
    QColor m_color = Qt::white;
    QVector<QGlyphRun> runs;
    QHash<GlyphKey, Glyph> glyphs;
    QHash<GlyphKey, QPainterPath> outlines; // in the font's pixels, at no fraction
    // Every number a gauge shows, several times over.
    QCache<QString, Line> lines{1000};
    QMetaObject::Connection following;
    QPointF paintedAt;
    QVector<PlacedGlyph> shown; // by the line's nodes, in order
    bool pictureChanged = true;
};

#endif // READOUT_H
