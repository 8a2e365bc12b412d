#pragma once

#include "Drawable.h"

#include <QColor>
#include <QPen>

// A straight line between two points. Under creation from its first click
// (both points there) until the next click fixes the second point; each end
// may be made draggable.
class Line : public Drawable {
public:
    // Squared pixel distance within which an end point is grabbed.
    static constexpr int kGrabRadiusSquared = 16;

    Line(const QPointF& p, bool firstMovable, bool secondMovable);

    void moveInCreationMode(const QPointF& point, const QSize& size) override;
    bool clickInCreationMode(const QPointF& point, const QSize& size) override;
    bool isCreationMode() override;
    // The first end wins when both are within reach.
    Movable* getMovable(const QPointF& point, const QSize& size) override;
    void draw(QPainter& painter, const QRect& rect) const override;

    QPointF& getFirstPoint();
    QPointF& getSecondPoint();
    void setColor(const QColor& color);

private:
    QPointF first_;
    QPointF second_;
    QPen pen_;
    bool creation_ = true;
    bool firstMovable_ = false;
    bool secondMovable_ = false;
};
