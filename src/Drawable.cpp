#include "Drawable.h"

#include <cmath>
#include <limits>

namespace {

// double -> int truncated toward zero; out-of-range values saturate and NaN
// gives 0, where a plain cast would be undefined.
int truncToInt(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double maxInt = std::numeric_limits<int>::max();
    constexpr double minInt = std::numeric_limits<int>::min();
    if (value >= maxInt) {
        return std::numeric_limits<int>::max();
    }
    if (value <= minInt) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

} // namespace

QPoint coords(const QPointF& p, const QRect& r)
{
    const double x = r.width() * p.x() + r.x();
    const double y = r.height() * p.y() + r.y();
    return QPoint(truncToInt(x), truncToInt(y));
}

int distInPixels(const QPointF& a, const QPointF& b, const QSize& size)
{
    const double dx = a.x() * size.width() - b.x() * size.width();
    const double dy = a.y() * size.height() - b.y() * size.height();
    return truncToInt(dx * dx + dy * dy);
}

void* Drawable::getData() const
{
    return data_;
}

void Drawable::setData(void* data)
{
    data_ = data;
}

Drawable::~Drawable() = default;

Movable::~Movable() = default;

void Movable::finishDrag() {}

DrawableCreationTool::~DrawableCreationTool() = default;
