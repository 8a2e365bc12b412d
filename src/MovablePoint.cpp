#include "MovablePoint.h"

MovablePoint::MovablePoint(Drawable* owner, QPointF& point) : Movable(owner), point_(&point), saved_(point) {}

void MovablePoint::moveTo(const QPointF& point)
{
    *point_ = point;
}

void MovablePoint::undo()
{
    *point_ = saved_;
}

MovablePoint::~MovablePoint() = default;
