// Paints per second of a full calibration overlay: the ground grid, two
// mimics, three rulers and 16 zones of 32 vertices, into a 720 x 576 image.
// The live view repaints all of it on every decoded frame.
#include "Camera.h"
#include "Grid.h"
#include "Mimic.h"
#include "PolyLine.h"
#include "Ruler.h"

#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kW = 720;
constexpr int kH = 576;

struct Overlay {
    Camera camera{36, 13, 3, 1.25};
    std::vector<std::shared_ptr<Drawable>> shapes;

    Overlay()
    {
        auto grid = std::make_shared<GridDrawable>();
        grid->setCameraPosition(camera);
        shapes.push_back(grid);
        for (const QPointF& foot : {QPointF(0.3, 0.8), QPointF(0.7, 0.6)}) {
            auto mimic = std::make_shared<Mimic>(camera, foot, Qt::red);
            mimic->setHeight(1.8);
            shapes.push_back(mimic);
        }
        const QColor colours[] = {QColor(241, 20, 18), QColor(33, 198, 33), QColor(228, 150, 37)};
        for (int i = 0; i < 3; ++i) {
            auto ruler = std::make_shared<Ruler>(QPointF(0.1, 0.5 + 0.1 * i), nullptr, colours[i]);
            ruler->clickInCreationMode(QPointF(0.9, 0.55 + 0.1 * i), QSize(kW, kH));
            shapes.push_back(ruler);
        }
        // Star-shaped zones in a 4 x 4 layout: simple polygons of 32 vertices.
        for (int zone = 0; zone < 16; ++zone) {
            auto polygon = std::make_shared<PolyLine>();
            polygon->setColor(Qt::yellow);
            const double cx = 0.125 + 0.25 * (zone % 4);
            const double cy = 0.125 + 0.25 * (zone / 4);
            for (int v = 0; v < 32; ++v) {
                const double angle = 2 * M_PI * v / 32;
                const double r = v % 2 == 0 ? 0.11 : 0.07;
                polygon->add(QPointF(cx + r * std::cos(angle), cy + r * std::sin(angle)));
            }
            shapes.push_back(polygon);
        }
    }

    void paint(QPainter& painter, const QRect& rect) const
    {
        for (const std::shared_ptr<Drawable>& shape : shapes) {
            shape->draw(painter, rect);
        }
    }
};

// Overlay alone, in the pixel format of a widget's backing store.
void BM_OverlayPaint(benchmark::State& state)
{
    const Overlay overlay;
    QImage image(kW, kH, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    for (auto _ : state) {
        QPainter painter(&image);
        overlay.paint(painter, image.rect());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["paints_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_OverlayPaint)->Unit(benchmark::kMicrosecond);

// A whole repaint as the view does it: the 720 x 576 picture, then the overlay.
void BM_FrameAndOverlayPaint(benchmark::State& state)
{
    const Overlay overlay;
    QImage picture(kW, kH, QImage::Format_RGB32);
    picture.fill(Qt::darkGray);
    QImage image(kW, kH, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.drawImage(image.rect(), picture);
        overlay.paint(painter, image.rect());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["paints_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameAndOverlayPaint)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
