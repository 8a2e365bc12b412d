#include "PolyLine.h"

#include "Crossing.h"
#include "PolyLineMovablePoint.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

PolyLine::PolyLine() = default;

PolyLine::PolyLine(const QPointF& p, bool showVertices)
    : vertices_{p}, current_(p), creation_(true), showVertices_(showVertices)
{
    warningPen_.setColor(QColor(255, 0, 0, 255));
}

void PolyLine::moveInCreationMode(const QPointF& point, const QSize& size)
{
    current_ = point;
    // Near vertex 0 the next click closes the polygon rather than adding an
    // edge: it is allowed there unless the closing edge would cross the chain.
    if (!vertices_.empty() && distInPixels(point, vertices_.front(), size) <= kHitRadiusSquared) {
        canAdd_ = !closingEdgeCrosses();
    } else {
        canAdd_ = !hasSelfCross(vertices_, point);
    }
}

bool PolyLine::closingEdgeCrosses() const
{
    // Only a polygon of at least 3 vertices closes; below that a click near
    // vertex 0 adds a vertex, whose edge cannot cross anything yet.
    return vertices_.size() >= 3 && hasSelfCross(vertices_, vertices_.front());
}

bool PolyLine::clickInCreationMode(const QPointF& point, const QSize& size)
{
    if (vertices_.size() >= 3 && distInPixels(point, vertices_.front(), size) <= kHitRadiusSquared) {
        if (closingEdgeCrosses()) {
            return false;
        }
        creation_ = false;
        return true;
    }
    if (canAdd_) {
        vertices_.push_back(point);
    }
    return false;
}

bool PolyLine::isCreationMode()
{
    return creation_;
}

Movable* PolyLine::getMovable(const QPointF& point, const QSize& size)
{
    for (size_t i = 0; i < vertices_.size(); ++i) {
        if (distInPixels(vertices_[i], point, size) <= kHitRadiusSquared) {
            return new PolyLineMovablePoint(this, vertices_[i], static_cast<int>(i));
        }
    }
    return nullptr;
}

void PolyLine::draw(QPainter& painter, const QRect& rect) const
{
    if (vertices_.empty()) {
        return;
    }
    QPolygon chain;
    chain.reserve(static_cast<int>(vertices_.size()));
    for (const QPointF& v : vertices_) {
        chain.append(coords(v, rect));
    }
    // The fill goes under the outline, which keeps its own colour.
    if (!creation_ && fill_.isValid()) {
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill_);
        painter.drawPolygon(chain);
        painter.restore();
    }
    painter.setPen(pen_);
    painter.drawPolyline(chain);
    if (creation_) {
        if (!canAdd_) {
            painter.setPen(warningPen_);
        }
        painter.drawLine(coords(current_, rect), chain.last());
        painter.setPen(pen_);
        painter.drawEllipse(chain.first(), 4, 4);
        return;
    }
    painter.drawLine(chain.first(), chain.last());
    if (showVertices_) {
        for (const QPoint& v : chain) {
            painter.drawEllipse(v, 4, 4);
        }
    }
    if (!label_.isEmpty()) {
        drawLabel(painter, chain.first(), rect);
    }
}

void PolyLine::drawLabel(QPainter& painter, const QPoint& corner, const QRect& rect) const
{
    painter.save();
    const QFontMetrics metrics = painter.fontMetrics();
    const QString text = metrics.elidedText(label_, Qt::ElideRight, kLabelMaxWidth);
    const QSize size(metrics.horizontalAdvance(text) + 8, metrics.height() + 2);
    // Above and to the right of the corner, clear of its vertex mark, and
    // inside the picture for a corner at its edge.
    QPoint topLeft = corner + QPoint(6, -size.height() - 4);
    topLeft.setX(qMax(rect.left(), qMin(topLeft.x(), rect.right() - size.width())));
    topLeft.setY(qMax(rect.top(), qMin(topLeft.y(), rect.bottom() - size.height())));
    const QRect box(topLeft, size);
    // A dark box keeps the text readable over any picture.
    painter.fillRect(box, QColor(0, 0, 0, 160));
    painter.setPen(labelColor_);
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text);
    painter.restore();
}

void PolyLine::add(const QPointF& point)
{
    vertices_.push_back(point);
}

std::vector<QPointF>& PolyLine::getVertecles()
{
    return vertices_;
}

void PolyLine::setColor(const QColor& color)
{
    pen_.setColor(color);
}

void PolyLine::setPenWidth(int width)
{
    pen_.setWidth(width);
}

void PolyLine::setPenStyle(Qt::PenStyle style)
{
    pen_.setStyle(style);
}

void PolyLine::setFillColor(const QColor& color)
{
    fill_ = color;
}

void PolyLine::setLabel(const QString& text, const QColor& color)
{
    label_ = text;
    labelColor_ = color;
}

bool PolyLine::isAcceptable(unsigned long long index)
{
    const size_t n = vertices_.size();
    if (index >= n) {
        // No such vertex: nothing of it can cross.
        return true;
    }
    const QPointF& prev = index == 0 ? vertices_.back() : vertices_[index - 1];
    const QPointF& cur = vertices_[index];
    const QPointF& next = index == n - 1 ? vertices_.front() : vertices_[index + 1];
    for (size_t i = 0; i + 1 < n; ++i) {
        const QPointF& a = vertices_[i];
        const QPointF& b = vertices_[i + 1];
        if (hasLineCross(prev, cur, a, b) || hasLineCross(cur, next, a, b)) {
            return false;
        }
    }
    const QPointF& first = vertices_.front();
    const QPointF& last = vertices_.back();
    return !hasLineCross(prev, cur, first, last) && !hasLineCross(cur, next, first, last);
}
