#pragma once

#include <QPointF>
#include <vector>

// Crossing rules of polygon edges, in relative picture coordinates.

// True only when segments p1-p2 and p3-p4 properly cross: each segment's end
// points lie strictly on opposite sides of the other. Touching, a shared end
// point and collinear overlap are not crossings, so adjacent edges of a
// polygon never cross each other.
bool hasLineCross(const QPointF& p1, const QPointF& p2, const QPointF& p3, const QPointF& p4);

// Whether the candidate edge from the last vertex to `p` crosses an edge of
// the open chain `vertices`. The closing edge is not part of the chain.
bool hasSelfCross(const std::vector<QPointF>& vertices, const QPointF& p);
