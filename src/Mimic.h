#pragma once

#include "Drawable.h"

#include <QColor>
#include <QPen>

class Camera;

// Human-size marker: a vertical stick of a given height standing on the
// ground point shown at its foot. It reads the page's camera at every paint,
// so it follows each change of the camera position. Complete from the start;
// its foot can be dragged.
class Mimic : public Drawable {
public:
    // Squared pixel distance within which the foot is grabbed (2 pixels).
    static constexpr int kGrabRadiusSquared = 4;

    Mimic(const Camera& camera, const QPointF& foot, QColor colour);

    void moveInCreationMode(const QPointF& point, const QSize& size) override;
    bool clickInCreationMode(const QPointF& point, const QSize& size) override;
    bool isCreationMode() override;
    Movable* getMovable(const QPointF& point, const QSize& size) override;
    // A foot the camera cannot place (on the horizon, or a head in the lens
    // plane) draws nothing in that paint.
    void draw(QPainter& painter, const QRect& rect) const override;
    ~Mimic() override;

    void setHeight(double heightMetres);

private:
    QPen pen_;
    QPointF foot_;
    const Camera* camera_ = nullptr; // the page's camera, not owned
    double heightMetres_ = 2.0;
};

// Tool of one mimic row: makes the row's single mimic, in the row's colour,
// on the first release and hands back the same one until reset().
class MimicCreator : public DrawableCreationTool {
public:
    explicit MimicCreator(const Camera& camera, const QColor& colour = Qt::red);

    // The held mimic; a new one at `point` only when none is held.
    std::shared_ptr<Drawable> createDrawable(const QPointF& point) override;
    ~MimicCreator() override;

    void setMimicHeight(double heightMetres);
    std::shared_ptr<Mimic> getMimic();
    void reset();

private:
    const Camera* camera_ = nullptr; // not owned
    QColor colour_;
    double mimicHeightMetres_ = 2.0;
    std::shared_ptr<Mimic> mimic_;
};
