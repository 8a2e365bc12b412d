#include "Camera.h"
#include "Grid.h"
#include "LineRecorder.h"
#include "Mimic.h"
#include "Ruler.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <cmath>
#include <random>

namespace {

constexpr int kW = 720;
constexpr int kH = 576;

struct Position {
    double fov;
    double angle;
    double height;
};

std::vector<QLineF> recordGrid(const Position& pos)
{
    GridDrawable grid;
    grid.setCameraPosition(Camera(pos.fov, pos.angle, pos.height, 1.25));
    LineRecorder recorder(kW, kH);
    QPainter painter(&recorder);
    grid.draw(painter, QRect(0, 0, kW, kH));
    painter.end();
    return recorder.lines();
}

bool isFullWidthRow(const QLineF& line)
{
    return line.y1() == line.y2() && line.x1() == 0 && line.x2() == kW;
}

bool painted(const QImage& image, int x, int y)
{
    for (int dx = -1; dx <= 1; ++dx) {
        for (int dy = -1; dy <= 1; ++dy) {
            const QPoint p(x + dx, y + dy);
            if (image.rect().contains(p) && image.pixelColor(p) == Qt::white) {
                return true;
            }
        }
    }
    return false;
}

class RecordingListener : public RulerListener {
public:
    void notify(Ruler* ruler, const QPointF& first, const QPointF& second) override
    {
        ++calls;
        lastRuler = ruler;
        lastFirst = first;
        lastSecond = second;
    }
    int calls = 0;
    Ruler* lastRuler = nullptr;
    QPointF lastFirst;
    QPointF lastSecond;
};

} // namespace

TEST(Grid, DefaultCameraDrawsTheKnownGrid)
{
    const std::vector<QLineF> lines = recordGrid({36, 13, 3});
    const Camera camera(36, 13, 3, 1.25);
    std::vector<double> rows;
    std::vector<QLineF> along;
    for (const QLineF& line : lines) {
        (isFullWidthRow(line) ? rows.push_back(line.y1()) : along.push_back(line));
    }
    // Cross lines 4 m to 30 m, one metre apart, then the horizon.
    ASSERT_EQ(rows.size(), 28u);
    for (int i = 0; i < 27; ++i) {
        EXPECT_EQ(rows[i], toQPoint(camera.getScreenCoords(4 + i, 0, 1), QRect(0, 0, kW, kH)).y()) << i;
    }
    EXPECT_EQ(rows.back(), static_cast<int>(0.145 * kH));
    // Lines along the view, 0 to 13 m to each side, from the bottom edge to 30 m.
    const QRect rect(0, 0, kW, kH);
    const Point3F bl = camera.getCoordsOnGround(0, 1);
    const Point3F br = camera.getCoordsOnGround(1, 1);
    ASSERT_EQ(along.size(), 28u);
    for (size_t i = 0; i < along.size(); ++i) {
        const double z = static_cast<double>(i / 2);
        const Point3F& near = i % 2 == 0 ? br : bl;
        const double side = i % 2 == 0 ? 1 : -1;
        EXPECT_EQ(along[i].p1().toPoint(), toQPoint(camera.getScreenCoords(near.x, near.y, side * z), rect))
            << i;
        EXPECT_EQ(along[i].p2().toPoint(), toQPoint(camera.getScreenCoords(30, 0, side * z), rect)) << i;
    }
    EXPECT_LT(camera.getScreenCoords(30, 0, 12).x, 1);
    EXPECT_GE(camera.getScreenCoords(30, 0, 13).x, 1);
}

// Rendered pixels against the camera model: every cross line a full row at a
// multiple of a power-of-two step, lines along the view at lateral multiples
// of that step, the horizon where the model puts it.
TEST(Grid, RenderedLinesMatchTheCameraModel)
{
    const Position positions[] = {{36, 13, 3},  {18, 10, 3},  {60, 30, 8},
                                  {10, 45, 40}, {89, 5, 0.5}, {45, 80, 2}};
    for (const Position& pos : positions) {
        SCOPED_TRACE(testing::Message() << pos.fov << "/" << pos.angle << "/" << pos.height);
        GridDrawable grid;
        const Camera camera(pos.fov, pos.angle, pos.height, 1.25);
        grid.setCameraPosition(camera);
        QImage image(kW, kH, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.setPen(Qt::white);
        grid.draw(painter, image.rect());
        painter.end();

        const Point3F br = camera.getCoordsOnGround(1, 1);
        std::vector<int> fullRows;
        for (int y = 0; y < kH; ++y) {
            int count = 0;
            for (int x = 0; x < kW; ++x) {
                count += image.pixelColor(x, y) == Qt::white ? 1 : 0;
            }
            if (count == kW) {
                fullRows.push_back(y);
            }
        }
        ASSERT_GE(fullRows.size(), 2u);
        const double step = std::pow(2.0, std::floor(std::log2(br.z / 2)));
        EXPECT_GT(step, br.z / 4);
        EXPECT_LE(step, br.z / 2);
        const int horizonRow = static_cast<int>((0.5 - camera.getHorizontHeight()) * kH);
        double farthest = br.x;
        for (int row : fullRows) {
            if (row == horizonRow) {
                continue;
            }
            // Each cross line shows a ground distance that is a multiple of the step.
            const double d = camera.getCoordsOnGround(0.5, (row + 0.5) / kH).x;
            const double multiple = std::round(d / step) * step;
            const int expectedRow = toQPoint(camera.getScreenCoords(multiple, 0, 1), image.rect()).y();
            EXPECT_LE(std::abs(expectedRow - row), 1) << "row " << row << " at " << d << " m";
            farthest = std::max(farthest, multiple);
        }
        if (horizonRow >= 0) {
            EXPECT_TRUE(std::binary_search(fullRows.begin(), fullRows.end(), horizonRow));
        } else {
            // Horizon above the picture and cross lines still well apart at the
            // top edge: the lines along the view run on past the top edge.
            const double top = std::floor(camera.getCoordsOnGround(0.5, 0).x / step) * step;
            const double gapAtTop =
                camera.getScreenCoords(top, 0, 0).y - camera.getScreenCoords(top + step, 0, 0).y;
            if (gapAtTop * kH > 4) {
                EXPECT_TRUE(painted(image, kW / 2, 0));
            }
        }
        // Lines along the view, sampled halfway between the bottom edge and the
        // last cross line, one and two steps to each side where inside the picture.
        const double midDistance = (br.x + farthest) / 2;
        for (double z : {0.0, step, -step, 2 * step, -2 * step}) {
            const QPoint p = toQPoint(camera.getScreenCoords(midDistance, 0, z), image.rect());
            if (image.rect().contains(p)) {
                EXPECT_TRUE(painted(image, p.x(), p.y())) << "z " << z << " at " << midDistance << " m";
            }
        }
    }
}

// Random camera positions across the accepted ranges: both loops end and no
// line leaves the range where pixel coordinates stay meaningful.
TEST(Grid, PropertyLoopsEndAndLinesAreFinite)
{
    std::mt19937 random(20261207);
    std::uniform_real_distribution<double> degrees(1, 89);
    std::uniform_real_distribution<double> metres(0.1, 40);
    std::vector<Position> positions;
    for (double fov : {1.0, 89.0}) {
        for (double angle : {1.0, 89.0}) {
            for (double height : {0.1, 40.0}) {
                positions.push_back({fov, angle, height});
            }
        }
    }
    for (int i = 0; i < 3000; ++i) {
        const bool whole = i % 2 == 0; // the page sets whole degrees
        const double fov = whole ? std::round(degrees(random)) : degrees(random);
        const double angle = whole ? std::round(degrees(random)) : degrees(random);
        positions.push_back({fov, angle, std::round(metres(random) * 100) / 100});
    }
    size_t mostLines = 0;
    for (const Position& pos : positions) {
        const std::vector<QLineF> lines = recordGrid(pos);
        mostLines = std::max(mostLines, lines.size());
        ASSERT_GE(lines.size(), 4u) << pos.fov << "/" << pos.angle << "/" << pos.height;
        for (const QLineF& line : lines) {
            for (double v : {line.x1(), line.y1(), line.x2(), line.y2()}) {
                ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 1e9)
                    << pos.fov << "/" << pos.angle << "/" << pos.height << ": " << v;
            }
        }
    }
    std::cout << "most lines in one grid: " << mostLines << std::endl;
}

TEST(Mimic, StandsOnTheGroundAndSkipsWhatTheCameraCannotPlace)
{
    Camera camera(36, 13, 3, 1.25);
    MimicCreator creator(camera);
    creator.setMimicHeight(1.8);
    const std::shared_ptr<Drawable> shape = creator.createDrawable(QPointF(0.5, 1));
    EXPECT_FALSE(shape->isCreationMode());
    // A second release elsewhere returns the same mimic, unmoved.
    EXPECT_EQ(creator.createDrawable(QPointF(0.2, 0.7)), shape);
    const QRect rect(0, 0, kW, kH);
    LineRecorder recorder(kW, kH);
    {
        QPainter painter(&recorder);
        shape->draw(painter, rect);
    }
    ASSERT_EQ(recorder.lines().size(), 1u);
    const Point3F foot = camera.getCoordsOnGround(0.5, 1);
    EXPECT_EQ(recorder.lines()[0].p2().toPoint(),
              toQPoint(camera.getScreenCoords(foot.x, 1.8, foot.z), rect));
    EXPECT_EQ(recorder.ellipses().size(), 1u);

    // Height 0: a zero-length stick and the foot circle.
    creator.setMimicHeight(0);
    recorder.clear();
    {
        QPainter painter(&recorder);
        shape->draw(painter, rect);
    }
    ASSERT_EQ(recorder.lines().size(), 1u);
    EXPECT_EQ(recorder.lines()[0].p1(), recorder.lines()[0].p2());

    // Foot on the horizon of a level camera: nothing drawn, no exception.
    camera.set(36, 0, 3);
    Mimic onHorizon(camera, QPointF(0.5, 0.5), Qt::red);
    recorder.clear();
    {
        QPainter painter(&recorder);
        onHorizon.draw(painter, rect);
    }
    EXPECT_TRUE(recorder.lines().empty());
    EXPECT_TRUE(recorder.ellipses().empty());

    // The foot is grabbed within 2 pixels only.
    EXPECT_EQ(shape->getMovable(QPointF(0.5 + 3.0 / kW, 1), rect.size()), nullptr);
    std::unique_ptr<Movable> handle(shape->getMovable(QPointF(0.5 + 2.0 / kW, 1), rect.size()));
    ASSERT_NE(handle, nullptr);
    creator.reset();
    EXPECT_EQ(creator.getMimic(), nullptr);
}

TEST(Ruler, ListenerHearsEveryChangeOfTheEnds)
{
    RecordingListener listener;
    int label = 0;
    RulerCreator creator(&listener, Qt::green, &label);
    const std::shared_ptr<Drawable> shape = creator.createDrawable(QPointF(0.5, 0.5));
    EXPECT_EQ(shape, creator.getRuler());
    EXPECT_EQ(shape->getData(), &label);
    EXPECT_EQ(creator.createDrawable(QPointF(0.1, 0.1)), shape);
    const QSize size(kW, kH);

    ASSERT_TRUE(shape->isCreationMode());
    shape->moveInCreationMode(QPointF(0.6, 0.6), size);
    shape->moveInCreationMode(QPointF(0.7, 0.6), size);
    EXPECT_EQ(listener.calls, 2);
    EXPECT_TRUE(shape->clickInCreationMode(QPointF(0.7, 0.7), size));
    EXPECT_EQ(listener.calls, 3);
    EXPECT_EQ(listener.lastRuler, creator.getRuler().get());
    EXPECT_EQ(listener.lastSecond, QPointF(0.7, 0.7));

    // Second end, exactly 4 pixels away (squared 16), is grabbed.
    std::unique_ptr<Movable> handle(shape->getMovable(QPointF(0.7, 0.7 + 4.0 / kH), size));
    ASSERT_NE(handle, nullptr);
    handle->moveTo(QPointF(0.9, 0.9));
    EXPECT_EQ(listener.calls, 4);
    EXPECT_EQ(listener.lastSecond, QPointF(0.9, 0.9));
    handle->undo();
    EXPECT_EQ(listener.calls, 5);
    EXPECT_EQ(listener.lastSecond, QPointF(0.7, 0.7));
    handle.reset();
    EXPECT_EQ(listener.calls, 5); // no end-of-drag check
    EXPECT_EQ(shape->getMovable(QPointF(0.2, 0.2), size), nullptr);
}
