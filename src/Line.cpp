#include "Line.h"

#include "MovablePoint.h"

#include <QPainter>

Line::Line(const QPointF& p, bool firstMovable, bool secondMovable)
    : first_(p), second_(p), firstMovable_(firstMovable), secondMovable_(secondMovable)
{
}

void Line::moveInCreationMode(const QPointF& point, const QSize&)
{
    second_ = point;
}

bool Line::clickInCreationMode(const QPointF& point, const QSize&)
{
    second_ = point;
    creation_ = false;
    return true;
}

bool Line::isCreationMode()
{
    return creation_;
}

Movable* Line::getMovable(const QPointF& point, const QSize& size)
{
    if (firstMovable_ && distInPixels(point, first_, size) <= kGrabRadiusSquared) {
        return new MovablePoint(this, first_);
    }
    if (secondMovable_ && distInPixels(point, second_, size) <= kGrabRadiusSquared) {
        return new MovablePoint(this, second_);
    }
    return nullptr;
}

void Line::draw(QPainter& painter, const QRect& rect) const
{
    painter.setPen(pen_);
    const QPoint a = coords(first_, rect);
    const QPoint b = coords(second_, rect);
    painter.drawLine(a, b);
    if (!creation_) {
        if (firstMovable_) {
            painter.drawEllipse(a, 4, 4);
        }
        if (secondMovable_) {
            painter.drawEllipse(b, 4, 4);
        }
    }
}

QPointF& Line::getFirstPoint()
{
    return first_;
}

QPointF& Line::getSecondPoint()
{
    return second_;
}

void Line::setColor(const QColor& color)
{
    pen_.setColor(color);
}
