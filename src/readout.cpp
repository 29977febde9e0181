#include "readout.h"

#include <QPainter>
#include <QPainterPath>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QTextLayout>
#include <QtMath>
#include <qqml.h>

namespace {

// Where a glyph's origin lies within its pixel, in the 64ths that text layout counts in.
constexpr int subpixels = 64;

} // namespace

// Glyph indexes are the font's own: a fallback font's would collide with the readout's.
Readout::GlyphKey Readout::glyphKey(const QRawFont &font, quint32 index, QPoint fraction)
{
    return {font, quint64(index) << 16 | quint64(fraction.x()) << 8 | quint64(fraction.y())};
}

Readout::Readout(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents);
    layOut();
}

void Readout::registerQmlType()
{
    qmlRegisterType<Readout>("motrel.scene", 1, 0, "Readout");
}

QString Readout::text() const
{
    return m_text;
}

void Readout::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    layOut();
    emit textChanged();
}

QFont Readout::font() const
{
    return m_font;
}

void Readout::setFont(const QFont &font)
{
    if (font == m_font)
        return;
    m_font = font;
    glyphs.clear();
    outlines.clear();
    lines.clear();
    layOut();
    emit fontChanged();
}

QColor Readout::color() const
{
    return m_color;
}

void Readout::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    glyphs.clear();
    redraw();
    emit colorChanged();
}

// The line as a Text with Qt's own rendering lays it out: design metrics, from the top left.
Readout::Line Readout::lineFor(const QString &text) const
{
    QTextLayout layout(text, m_font);
    QTextOption option;
    option.setUseDesignMetrics(true);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(std::numeric_limits<float>::max());
    layout.endLayout();
    if (!line.isValid())
        return {{}, QSizeF(0, QFontMetricsF(m_font).height())};
    return {layout.glyphRuns().toVector(), QSizeF(line.naturalTextWidth(), line.height())};
}

// Laying a line out loads its glyphs from the font again, running their hinting programs, since
// Qt keeps no large glyphs; a readout shows the same few numbers over and over.
void Readout::layOut()
{
    Line *line = lines.object(m_text);
    if (!line) {
        line = new Line(lineFor(m_text));
        lines.insert(m_text, line);
    }
    runs = line->runs;
    setImplicitSize(line->size.width(), line->size.height());
    redraw();
}

void Readout::redraw()
{
    pictureChanged = true;
    update();
}

QPointF Readout::screenPlace() const
{
    return mapToScene(QPointF());
}

void Readout::followScreenPlace()
{
    if (screenPlace() == paintedAt)
        return;
    // Elsewhere the glyphs lie at other fractions of a pixel: the old ones would only pile up.
    glyphs.clear();
    redraw();
}

void Readout::itemChange(ItemChange change, const ItemChangeData &value)
{
    if (change == ItemSceneChange) {
        // The window tells after each frame's layout, before the scene is synchronised, so a
        // move of the gauges is followed in the same frame.
        disconnect(following);
        if (value.window)
            following = connect(value.window, &QQuickWindow::afterAnimating, this, &Readout::followScreenPlace);
    }
    if (change == ItemSceneChange || change == ItemDevicePixelRatioHasChanged) {
        glyphs.clear();
        redraw();
    }
    QQuickItem::itemChange(change, value);
}

// A glyph's outline is loaded from the font by running its hinting program: once per glyph, not
// again at each fraction of a pixel the readout moves to.
const QPainterPath &Readout::outlineOf(const QRawFont &font, quint32 index)
{
    const GlyphKey key = glyphKey(font, index, QPoint());
    auto found = outlines.find(key);
    if (found == outlines.end())
        found = outlines.insert(key, font.pathForGlyph(index));
    return *found;
}

const Readout::Glyph &Readout::glyph(const QRawFont &font, quint32 index, QPointF fraction)
{
    const QPoint sixtyFourths = (fraction * subpixels).toPoint();
    const GlyphKey key = glyphKey(font, index, sixtyFourths);
    const auto found = glyphs.constFind(key);
    if (found != glyphs.constEnd())
        return *found;
    const qreal ratio = window()->effectiveDevicePixelRatio();
    QPainterPath outline = QTransform::fromScale(ratio, ratio).map(outlineOf(font, index));
    outline.translate(QPointF(sixtyFourths) / subpixels);
    const QRect box = outline.boundingRect().toAlignedRect();
    Glyph rendered;
    if (!box.isEmpty()) {
        rendered.picture = QImage(box.size(), QImage::Format_ARGB32_Premultiplied);
        rendered.picture.fill(Qt::transparent);
        QPainter painter(&rendered.picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(-box.topLeft());
        painter.fillPath(outline, m_color);
        rendered.offset = box.topLeft();
    }
    return *glyphs.insert(key, rendered);
}

// The line in screen pixels, each glyph at its own fraction of a pixel.
QVector<Readout::PlacedGlyph> Readout::placeGlyphs()
{
    const qreal ratio = window()->effectiveDevicePixelRatio();
    const QPointF origin = paintedAt * ratio;
    QVector<PlacedGlyph> placed;
    for (const QGlyphRun &run : qAsConst(runs)) {
        const QRawFont font = run.rawFont();
        const QVector<quint32> indexes = run.glyphIndexes();
        const QVector<QPointF> positions = run.positions();
        for (int i = 0; i < indexes.size(); ++i) {
            const QPointF at = origin + positions.at(i) * ratio;
            const QPoint whole(qFloor(at.x()), qFloor(at.y()));
            const Glyph &rendered = glyph(font, indexes.at(i), at - whole);
            if (!rendered.picture.isNull()) {
                const QPointF topLeft = QPointF(whole + rendered.offset) / ratio - paintedAt;
                placed.append({rendered.picture, QRectF(topLeft, QSizeF(rendered.picture.size()) / ratio)});
            }
        }
    }
    return placed;
}

QSGNode *Readout::glyphNode(const PlacedGlyph &placed) const
{
    QSGImageNode *node = window()->createImageNode();
    node->setOwnsTexture(true);
    // The texture shares the glyph's pixels.
    node->setTexture(window()->createTextureFromImage(placed.picture));
    node->setRect(placed.rect);
    return node;
}

// A node for each glyph: a new number swaps pictures already rendered and draws none. A glyph
// that stays where it was keeps its node, so only the digits that change are drawn again.
QSGNode *Readout::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    if (!pictureChanged && oldNode)
        return oldNode;
    pictureChanged = false;
    paintedAt = screenPlace();
    const QVector<PlacedGlyph> placed = placeGlyphs();
    if (!oldNode)
        shown.clear();
    // A transform node, not a plain one: the software renderer places a node added later by
    // the transform of its parent, and knows that only of transform nodes.
    QSGNode *line = oldNode ? oldNode : new QSGTransformNode;
    for (int i = 0; i < placed.size(); ++i) {
        if (i < shown.size() && shown.at(i).sameAs(placed.at(i)))
            continue;
        QSGNode *replaced = line->childAtIndex(i);
        if (replaced)
            line->insertChildNodeBefore(glyphNode(placed.at(i)), replaced);
        else
            line->appendChildNode(glyphNode(placed.at(i)));
        delete replaced; // a node leaves its parent as it goes
    }
    while (line->childCount() > placed.size())
        delete line->lastChild();
    shown = placed;
    return line;
}
