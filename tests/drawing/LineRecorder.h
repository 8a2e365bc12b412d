#pragma once

#include <QLineF>
#include <QPaintDevice>
#include <QPaintEngine>
#include <memory>
#include <vector>

// A paint device that keeps every line and ellipse drawn on it, so tests can
// check the geometry of what a shape paints rather than its pixels.
class LineRecorder : public QPaintDevice {
public:
    LineRecorder(int width, int height);
    ~LineRecorder() override;

    QPaintEngine* paintEngine() const override;
    const std::vector<QLineF>& lines() const;
    const std::vector<QRectF>& ellipses() const;
    void clear();

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    class Engine;
    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<Engine> engine_;
};
