#pragma once

#include "Drawable.h"

#include <QColor>
#include <QPen>
#include <QString>
#include <vector>

// A closed polygon (a detection zone). Under creation it is an open chain
// that grows by one vertex per accepted click and closes with a click on
// vertex 0; a click whose new edge would cross the chain is refused, and the
// rubber band to the pointer turns red while the pointer is at such a place.
class PolyLine : public Drawable {
public:
    // Squared pixel distance within which a vertex is hit (16 is outside).
    static constexpr int kHitRadiusSquared = 15;
    // A label wider than this is elided: a long name must not hide the
    // picture under it.
    static constexpr int kLabelMaxWidth = 160;

    // A complete polygon with no vertices yet, to be filled with add().
    PolyLine();
    // A polygon under creation with its first vertex at `p`.
    PolyLine(const QPointF& p, bool showVertices);

    void moveInCreationMode(const QPointF& point, const QSize& size) override;
    bool clickInCreationMode(const QPointF& point, const QSize& size) override;
    bool isCreationMode() override;
    // The first vertex in list order within reach.
    Movable* getMovable(const QPointF& point, const QSize& size) override;
    void draw(QPainter& painter, const QRect& rect) const override;

    void add(const QPointF& point);
    std::vector<QPointF>& getVertecles();
    void setColor(const QColor& color);
    // 0 is the default cosmetic pen of one pixel.
    void setPenWidth(int width);
    // The outline's dashes; a solid line by default.
    void setPenStyle(Qt::PenStyle style);
    // Fills the inside of the complete polygon; an invalid colour (the
    // default) leaves it unfilled.
    void setFillColor(const QColor& color);
    // A line of plain text at vertex 0 of the complete polygon, elided to
    // kLabelMaxWidth pixels (empty: none).
    void setLabel(const QString& text, const QColor& color);
    // Whether the two edges at vertex `index` of the closed polygon cross no
    // other edge.
    bool isAcceptable(unsigned long long index);

private:
    // Whether the edge from the last vertex back to vertex 0 would cross an
    // edge of the chain.
    bool closingEdgeCrosses() const;
    void drawLabel(QPainter& painter, const QPoint& corner, const QRect& rect) const;

    std::vector<QPointF> vertices_;
    QPointF current_;
    QPen pen_;
    bool creation_ = false;
    QPen warningPen_;
    bool showVertices_ = true;
    bool canAdd_ = false;
    QColor fill_;
    QString label_;
    QColor labelColor_;
};
