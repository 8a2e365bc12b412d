#include "Mimic.h"

#include "Camera.h"
#include "Grid.h"
#include "MovablePoint.h"

#include <QPainter>
#include <stdexcept>

Mimic::Mimic(const Camera& camera, const QPointF& foot, QColor colour) : foot_(foot), camera_(&camera)
{
    pen_.setColor(colour);
}

void Mimic::moveInCreationMode(const QPointF&, const QSize&) {}

bool Mimic::clickInCreationMode(const QPointF& point, const QSize&)
{
    foot_ = point;
    return true;
}

bool Mimic::isCreationMode()
{
    return false;
}

Movable* Mimic::getMovable(const QPointF& point, const QSize& size)
{
    if (distInPixels(point, foot_, size) <= kGrabRadiusSquared) {
        return new MovablePoint(this, foot_);
    }
    return nullptr;
}

void Mimic::draw(QPainter& painter, const QRect& rect) const
{
    painter.setPen(pen_);
    const QPoint foot = coords(foot_, rect);
    Point2F head;
    try {
        const Point3F ground = camera_->getCoordsOnGround(foot_.x(), foot_.y());
        head = camera_->getScreenCoords(ground.x, heightMetres_, ground.z);
    } catch (const std::runtime_error&) {
        return;
    }
    painter.drawLine(foot, toQPoint(head, rect));
    painter.drawEllipse(foot, 4, 4);
}

Mimic::~Mimic() = default;

void Mimic::setHeight(double heightMetres)
{
    heightMetres_ = heightMetres;
}

MimicCreator::MimicCreator(const Camera& camera, const QColor& colour) : camera_(&camera), colour_(colour) {}

std::shared_ptr<Drawable> MimicCreator::createDrawable(const QPointF& point)
{
    if (!mimic_) {
        mimic_ = std::make_shared<Mimic>(*camera_, point, colour_);
        mimic_->setHeight(mimicHeightMetres_);
    }
    return mimic_;
}

MimicCreator::~MimicCreator() = default;

void MimicCreator::setMimicHeight(double heightMetres)
{
    mimicHeightMetres_ = heightMetres;
    if (mimic_) {
        mimic_->setHeight(heightMetres);
    }
}

std::shared_ptr<Mimic> MimicCreator::getMimic()
{
    return mimic_;
}

void MimicCreator::reset()
{
    mimic_.reset();
}
