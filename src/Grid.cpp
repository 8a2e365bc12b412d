#include "Grid.h"

#include <QPainter>
#include <cmath>
#include <stdexcept>

namespace {

// Camera position used before any device data arrive: a 720 x 576 picture.
constexpr double kDefaultFovDegrees = 36;
constexpr double kDefaultAngleDegrees = 13;
constexpr double kDefaultHeightMetres = 3;
constexpr double kDefaultAspect = 1.25;

// Cross lines closer together than this on screen are not worth drawing;
// it also ends the loop where the lines converge on the horizon.
constexpr double kMinGapPixels = 3;

void drawRelativeLine(QPainter& painter, const QRect& rect, const Point2F& a, const Point2F& b)
{
    painter.drawLine(toQPoint(a, rect), toQPoint(b, rect));
}

} // namespace

QPoint toQPoint(const Point2F& p, const QRect& rect)
{
    return coords(QPointF(p.x, p.y), rect);
}

GridDrawable::GridDrawable()
    : camera_(kDefaultFovDegrees, kDefaultAngleDegrees, kDefaultHeightMetres, kDefaultAspect)
{
}

void GridDrawable::moveInCreationMode(const QPointF&, const QSize&) {}

bool GridDrawable::clickInCreationMode(const QPointF&, const QSize&)
{
    return false;
}

bool GridDrawable::isCreationMode()
{
    return false;
}

Movable* GridDrawable::getMovable(const QPointF&, const QSize&)
{
    return nullptr;
}

// Every point used here lies on the ground in front of the lens, or on the
// bottom picture edge, which is below the horizon for every tilt and field of
// view of 1 to 89 degrees; so neither camera conversion can fail.
void GridDrawable::draw(QPainter& painter, const QRect& rect) const
{
    try {
        drawLines(painter, rect);
    } catch (const std::runtime_error&) {
        // Only a camera outside the accepted ranges can fail here: the lines
        // drawn so far stay, and the paint of the other shapes goes on.
    }
}

void GridDrawable::drawLines(QPainter& painter, const QRect& rect) const
{
    const Point3F bl = camera_.getCoordsOnGround(0, 1);
    const Point3F br = camera_.getCoordsOnGround(1, 1);
    const double step = std::pow(2.0, std::floor(std::log2(br.z / 2)));
    const double horizon = 0.5 - camera_.getHorizontHeight();
    if (!(step > 0) || !std::isfinite(step)) {
        // Only a camera outside the accepted ranges (zero height, say) gets
        // here; a zero step would never reach the picture edge.
        drawRelativeLine(painter, rect, Point2F(0, horizon), Point2F(1, horizon));
        return;
    }

    // Cross lines at constant ground distance, from the bottom edge outward.
    double x = std::trunc(br.x / step) * step;
    const double minGap = kMinGapPixels / rect.height();
    Point2F s = camera_.getScreenCoords(x, 0, 1);
    double gap = 1 + minGap;
    double far = x;
    while (s.y > 0 && gap > minGap) {
        drawRelativeLine(painter, rect, Point2F(0, s.y), Point2F(1, s.y));
        far = x;
        x += step;
        const Point2F next = camera_.getScreenCoords(x, 0, 1);
        if (next.y < 0) {
            far = x;
        }
        gap = s.y - next.y;
        s = next;
    }

    // Lines along the view, in pairs left and right of the centre line, until
    // the far end of a pair reaches the right edge. The negated test also
    // ends the loop should a value ever be NaN.
    for (double z = 0;; z += step) {
        const Point2F q1 = camera_.getScreenCoords(br.x, br.y, z);
        const Point2F q2 = camera_.getScreenCoords(far, 0, z);
        const Point2F q3 = camera_.getScreenCoords(bl.x, bl.y, -z);
        const Point2F q4 = camera_.getScreenCoords(far, 0, -z);
        drawRelativeLine(painter, rect, q1, q2);
        drawRelativeLine(painter, rect, q3, q4);
        if (!(q2.x < 1)) {
            break;
        }
    }

    drawRelativeLine(painter, rect, Point2F(0, horizon), Point2F(1, horizon));
}

GridDrawable::~GridDrawable() = default;

void GridDrawable::setCameraPosition(const Camera& camera)
{
    camera_ = camera;
}
