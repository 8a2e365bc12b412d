#pragma once

#include "Drawable.h"

class PolyLine;

// Handle on one vertex of a complete polygon. The polygon may cross itself
// while the drag lasts; deleting the handle ends the drag, and a vertex that
// leaves the polygon crossing itself goes back to where it was.
class PolyLineMovablePoint : public Movable {
public:
    PolyLineMovablePoint(PolyLine* owner, QPointF& vertex, int index);
    void moveTo(const QPointF& point) override;
    void undo() override;
    ~PolyLineMovablePoint() override;
    // Puts the vertex back when it leaves the polygon crossing itself.
    void finishDrag() override;

private:
    QPointF* vertex_ = nullptr; // inside the owner's vertex list
    QPointF saved_;
    int index_ = 0;
};
