#include "PolyLineMovablePoint.h"

#include "PolyLine.h"

PolyLineMovablePoint::PolyLineMovablePoint(PolyLine* owner, QPointF& vertex, int index)
    : Movable(owner), vertex_(&vertex), saved_(vertex), index_(index)
{
}

void PolyLineMovablePoint::moveTo(const QPointF& point)
{
    *vertex_ = point;
}

void PolyLineMovablePoint::undo()
{
    *vertex_ = saved_;
}

PolyLineMovablePoint::~PolyLineMovablePoint()
{
    finishDrag();
}

void PolyLineMovablePoint::finishDrag()
{
    auto* polygon = static_cast<PolyLine*>(getOwner());
    if (!polygon->isAcceptable(static_cast<unsigned long long>(index_))) {
        undo();
    }
}
