#pragma once

#include "Drawable.h"

// Handle that moves one point stored inside its owner; undo puts the point
// back to where it was when the handle was made. No check at the end of a
// drag.
class MovablePoint : public Movable {
public:
    MovablePoint(Drawable* owner, QPointF& point);
    void moveTo(const QPointF& point) override;
    void undo() override;
    ~MovablePoint() override;

private:
    QPointF* point_ = nullptr; // inside the owner
    QPointF saved_;
};
