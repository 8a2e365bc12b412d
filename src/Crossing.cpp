#include "Crossing.h"

namespace {

double cross(const QPointF& a, const QPointF& b)
{
    return a.x() * b.y() - b.x() * a.y();
}

} // namespace

bool hasLineCross(const QPointF& p1, const QPointF& p2, const QPointF& p3, const QPointF& p4)
{
    const double d1 = cross(p4 - p3, p1 - p3);
    const double d2 = cross(p4 - p3, p2 - p3);
    const double d3 = cross(p2 - p1, p3 - p1);
    const double d4 = cross(p2 - p1, p4 - p1);
    return d1 * d2 < 0 && d3 * d4 < 0;
}

bool hasSelfCross(const std::vector<QPointF>& vertices, const QPointF& p)
{
    if (vertices.empty()) {
        return false;
    }
    const QPointF& last = vertices.back();
    for (size_t i = 1; i < vertices.size(); ++i) {
        if (hasLineCross(vertices[i - 1], vertices[i], last, p)) {
            return true;
        }
    }
    return false;
}
