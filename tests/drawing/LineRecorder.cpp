#include "LineRecorder.h"

class LineRecorder::Engine : public QPaintEngine {
public:
    Engine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawLines(const QLineF* lines, int count) override
    {
        this->lines.insert(this->lines.end(), lines, lines + count);
    }
    void drawLines(const QLine* lines, int count) override
    {
        for (int i = 0; i < count; ++i) {
            this->lines.emplace_back(lines[i]);
        }
    }
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode) override
    {
        for (int i = 1; i < count; ++i) {
            lines.emplace_back(points[i - 1], points[i]);
        }
    }
    void drawPolygon(const QPoint* points, int count, PolygonDrawMode) override
    {
        for (int i = 1; i < count; ++i) {
            lines.emplace_back(points[i - 1], points[i]);
        }
    }
    void drawEllipse(const QRectF& rect) override { ellipses.push_back(rect); }
    void drawEllipse(const QRect& rect) override { ellipses.push_back(rect); }
    Type type() const override { return QPaintEngine::User; }

    std::vector<QLineF> lines;
    std::vector<QRectF> ellipses;
};

LineRecorder::LineRecorder(int width, int height)
    : width_(width), height_(height), engine_(std::make_unique<Engine>())
{
}

LineRecorder::~LineRecorder() = default;

QPaintEngine* LineRecorder::paintEngine() const
{
    return engine_.get();
}

const std::vector<QLineF>& LineRecorder::lines() const
{
    return engine_->lines;
}

const std::vector<QRectF>& LineRecorder::ellipses() const
{
    return engine_->ellipses;
}

void LineRecorder::clear()
{
    engine_->lines.clear();
    engine_->ellipses.clear();
}

int LineRecorder::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth:
        return width_;
    case PdmHeight:
        return height_;
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return 96;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
    default:
        return 1000;
    }
}
