#include "Crossing.h"
#include "Drawable.h"
#include "Line.h"
#include "PolyLine.h"
#include "PolyLineCreationTool.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <climits>

namespace {

// 128 pixels per relative unit: every pixel position below is exact in binary.
const QSize kSize(128, 128);

QPointF P(double xPixels, double yPixels)
{
    return QPointF(xPixels / 128, yPixels / 128);
}

// A polygon drawn click by click the way the view drives it.
std::shared_ptr<PolyLine> drawPolygon(const std::vector<QPointF>& points)
{
    auto polygon = std::make_shared<PolyLine>(points.front(), true);
    for (size_t i = 1; i < points.size(); ++i) {
        polygon->moveInCreationMode(points[i], kSize);
        EXPECT_FALSE(polygon->clickInCreationMode(points[i], kSize));
    }
    return polygon;
}

} // namespace

TEST(RelativeCoords, TruncatesTowardZeroAndSaturates)
{
    EXPECT_EQ(coords(QPointF(0.5, 0.25), QRect(10, 20, 720, 576)), QPoint(370, 164));
    EXPECT_EQ(coords(QPointF(0.0019, 0.999), QRect(0, 0, 720, 576)), QPoint(1, 575));
    EXPECT_EQ(coords(QPointF(-0.0019, 0), QRect(0, 0, 720, 576)), QPoint(-1, 0));
    // Far outside the picture (the camera model can put points there).
    EXPECT_EQ(coords(QPointF(1e12, -1e12), QRect(0, 0, 720, 576)), QPoint(INT_MAX, INT_MIN));
    EXPECT_EQ(distInPixels(P(64, 64), P(67, 68), kSize), 25);
    EXPECT_EQ(distInPixels(P(0, 0), P(1.5, 0), kSize), 2); // 2.25 truncated
}

TEST(Crossing, OnlyProperCrossingsCount)
{
    const QPointF a(0, 0), b(1, 1), c(0, 1), d(1, 0);
    EXPECT_TRUE(hasLineCross(a, b, c, d));
    EXPECT_FALSE(hasLineCross(a, c, b, d));                               // parallel
    EXPECT_FALSE(hasLineCross(a, b, b, d));                               // shared end point
    EXPECT_FALSE(hasLineCross(a, b, QPointF(0.5, 0.5), d));               // touching
    EXPECT_FALSE(hasLineCross(a, b, QPointF(0.25, 0.25), QPointF(2, 2))); // collinear overlap

    const std::vector<QPointF> chain{{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}};
    EXPECT_TRUE(hasSelfCross(chain, QPointF(0.5, 0.0))); // back across the first edge
    EXPECT_FALSE(hasSelfCross(chain, QPointF(0.1, 0.9)));
    EXPECT_FALSE(hasSelfCross(chain, QPointF(0.5, 0.1))); // ends on an earlier edge
}

TEST(PolyLine, AcceptabilityChecksBothEdgesAndTheClosingEdge)
{
    PolyLine square;
    for (const QPointF& p : {QPointF(0.1, 0.1), QPointF(0.9, 0.1), QPointF(0.9, 0.9), QPointF(0.1, 0.9)}) {
        square.add(p);
    }
    for (unsigned long long i = 0; i < 4; ++i) {
        EXPECT_TRUE(square.isAcceptable(i)) << i;
    }
    EXPECT_TRUE(square.isAcceptable(4)); // no such vertex: nothing to check
    // Vertex 0 pulled below the bottom edge: its edges cross it.
    square.getVertecles()[0] = QPointF(0.5, 0.95);
    EXPECT_FALSE(square.isAcceptable(0));
    // Last vertex swapped over: the bow-tie crosses itself through the closing edge.
    square.getVertecles()[0] = QPointF(0.1, 0.1);
    square.getVertecles()[3] = QPointF(0.9, 0.5);
    square.getVertecles()[2] = QPointF(0.1, 0.9);
    EXPECT_FALSE(square.isAcceptable(3));
    PolyLine empty;
    EXPECT_TRUE(empty.isAcceptable(0));
}

TEST(PolyLine, CreationRefusesCrossingsAndClosesOnVertexZero)
{
    auto polygon = std::make_shared<PolyLine>(P(10, 10), true);
    // A click before any move adds nothing.
    EXPECT_FALSE(polygon->clickInCreationMode(P(90, 10), kSize));
    EXPECT_EQ(polygon->getVertecles().size(), 1u);

    polygon = drawPolygon({P(10, 10), P(90, 10), P(90, 90), P(50, 90)});
    ASSERT_EQ(polygon->getVertecles().size(), 4u);
    // An edge back across the first edge is refused.
    polygon->moveInCreationMode(P(50, 0), kSize);
    EXPECT_FALSE(polygon->clickInCreationMode(P(50, 0), kSize));
    EXPECT_EQ(polygon->getVertecles().size(), 4u);
    EXPECT_TRUE(polygon->isCreationMode());
    // Squared distance 16 from vertex 0 is outside the closing radius...
    polygon->moveInCreationMode(P(14, 10), kSize);
    EXPECT_FALSE(polygon->clickInCreationMode(P(14, 10), kSize));
    EXPECT_EQ(polygon->getVertecles().size(), 5u);
    // ...15 closes without adding the point.
    polygon->moveInCreationMode(P(13, 12), kSize); // 9 + 4
    EXPECT_TRUE(polygon->clickInCreationMode(P(13, 12), kSize));
    EXPECT_FALSE(polygon->isCreationMode());
    EXPECT_EQ(polygon->getVertecles().size(), 5u);

    // With fewer than 3 vertices a click near vertex 0 adds a vertex.
    polygon = drawPolygon({P(10, 10), P(90, 10)});
    polygon->moveInCreationMode(P(11, 11), kSize);
    EXPECT_FALSE(polygon->clickInCreationMode(P(11, 11), kSize));
    EXPECT_EQ(polygon->getVertecles().size(), 3u);
}

TEST(PolyLine, HandlesHitWithinFifteenAndUndoACrossingDrag)
{
    auto polygon = drawPolygon({P(10, 10), P(12, 10), P(90, 90), P(10, 90)});
    EXPECT_EQ(polygon->getMovable(P(16, 10), kSize), nullptr); // 16 from vertex 1
    // Both vertices within reach: the earlier one wins.
    std::unique_ptr<Movable> handle(polygon->getMovable(P(11, 10), kSize));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->getOwner(), polygon.get());
    handle->moveTo(P(20, 20));
    EXPECT_EQ(polygon->getVertecles()[0], P(20, 20));
    handle.reset(); // acceptable: stays
    EXPECT_EQ(polygon->getVertecles()[0], P(20, 20));

    // Crossing during the drag is allowed; the end of the drag puts it back.
    polygon = drawPolygon({P(10, 10), P(90, 10), P(90, 90), P(10, 90)});
    handle.reset(polygon->getMovable(P(90, 90), kSize));
    ASSERT_NE(handle, nullptr);
    handle->moveTo(P(5, 50));
    EXPECT_EQ(polygon->getVertecles()[2], P(5, 50));
    handle.reset();
    EXPECT_EQ(polygon->getVertecles()[2], P(90, 90));
}

TEST(Line, EndsHitWithinSixteenFirstWins)
{
    Line line(P(50, 50), true, false);
    EXPECT_TRUE(line.isCreationMode());
    line.moveInCreationMode(P(52, 50), kSize);
    EXPECT_EQ(line.getSecondPoint(), P(52, 50));
    EXPECT_TRUE(line.clickInCreationMode(P(54, 50), kSize));
    EXPECT_FALSE(line.isCreationMode());

    std::unique_ptr<Movable> handle(line.getMovable(P(50, 54), kSize)); // exactly 16
    ASSERT_NE(handle, nullptr);
    handle->moveTo(P(60, 60));
    EXPECT_EQ(line.getFirstPoint(), P(60, 60));
    handle->undo();
    EXPECT_EQ(line.getFirstPoint(), P(50, 50));
    EXPECT_EQ(line.getMovable(P(54, 51), kSize), nullptr); // second end is fixed

    Line both(P(50, 50), true, true);
    both.clickInCreationMode(P(52, 50), kSize);
    handle.reset(both.getMovable(P(51, 50), kSize));
    handle->moveTo(P(0, 0));
    EXPECT_EQ(both.getFirstPoint(), P(0, 0));
}

TEST(PolyLine, DrawsRubberBandRedOnlyWhereTheClickWouldBeRefused)
{
    PolyLineCreationTool tool(Qt::blue);
    std::shared_ptr<Drawable> shape = tool.createDrawable(QPointF(0.1, 0.1));
    auto* polygon = static_cast<PolyLine*>(shape.get());
    EXPECT_TRUE(polygon->isCreationMode());
    for (const QPointF& p : {QPointF(0.9, 0.1), QPointF(0.9, 0.9)}) {
        polygon->moveInCreationMode(p, kSize);
        polygon->clickInCreationMode(p, kSize);
    }
    auto colourNear = [&](const QPointF& pointer, int x, int y, const QColor& colour) {
        polygon->moveInCreationMode(pointer, kSize);
        QImage image(100, 100, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        polygon->draw(painter, image.rect());
        painter.end();
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                if (image.pixelColor(x + dx, y + dy) == colour) {
                    return true;
                }
            }
        }
        return false;
    };
    // Rubber band from the last vertex (90, 90) to the pointer, sampled halfway.
    EXPECT_TRUE(colourNear(QPointF(0.5, 0.5), 70, 70, Qt::blue));
    EXPECT_TRUE(colourNear(QPointF(0.5, 0.0), 70, 45, Qt::red)); // would cross the first edge
    EXPECT_FALSE(colourNear(QPointF(0.5, 0.0), 70, 45, Qt::blue));
}
