#pragma once

#include "Camera.h"
#include "Drawable.h"

// coords() of a picture point of the camera model.
QPoint toQPoint(const Point2F& p, const QRect& rect);

// Perspective grid on the ground plus the horizon, drawn from its own copy of
// a camera: lines a power of two metres apart, the step chosen from the width
// of ground visible at the bottom edge. Draws with the painter's current pen.
// Never under creation, no handles.
class GridDrawable : public Drawable {
public:
    GridDrawable();

    void moveInCreationMode(const QPointF& point, const QSize& size) override;
    bool clickInCreationMode(const QPointF& point, const QSize& size) override;
    bool isCreationMode() override;
    Movable* getMovable(const QPointF& point, const QSize& size) override;
    void draw(QPainter& painter, const QRect& rect) const override;
    ~GridDrawable() override;

    void setCameraPosition(const Camera& camera);

private:
    void drawLines(QPainter& painter, const QRect& rect) const;

    Camera camera_;
};
