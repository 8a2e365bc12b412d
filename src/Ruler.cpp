#include "Ruler.h"

RulerListener::~RulerListener() = default;

Ruler::Ruler(const QPointF& p, RulerListener* listener, QColor colour)
    : Line(p, true, true), listener_(listener)
{
    setColor(colour);
}

void Ruler::moveInCreationMode(const QPointF& point, const QSize& size)
{
    Line::moveInCreationMode(point, size);
    notifyListener();
}

bool Ruler::clickInCreationMode(const QPointF& point, const QSize& size)
{
    const bool complete = Line::clickInCreationMode(point, size);
    if (complete) {
        notifyListener();
    }
    return complete;
}

Movable* Ruler::getMovable(const QPointF& point, const QSize& size)
{
    Movable* inner = Line::getMovable(point, size);
    if (inner == nullptr) {
        return nullptr;
    }
    return new RulerMovable(this, inner, listener_);
}

Ruler::~Ruler() = default;

void Ruler::notifyListener()
{
    if (listener_ != nullptr) {
        listener_->notify(this, getFirstPoint(), getSecondPoint());
    }
}

RulerMovable::RulerMovable(Drawable* owner, Movable* inner, RulerListener* listener)
    : Movable(owner), listener_(listener), inner_(inner)
{
}

void RulerMovable::moveTo(const QPointF& point)
{
    inner_->moveTo(point);
    notifyListener();
}

void RulerMovable::undo()
{
    inner_->undo();
    notifyListener();
}

RulerMovable::~RulerMovable() = default;

void RulerMovable::notifyListener()
{
    // The owner is the ruler that made this handle; anything else has no
    // end points to report.
    auto* ruler = dynamic_cast<Ruler*>(getOwner());
    if (listener_ != nullptr && ruler != nullptr) {
        listener_->notify(ruler, ruler->getFirstPoint(), ruler->getSecondPoint());
    }
}

RulerCreator::RulerCreator(RulerListener* listener, const QColor& colour, void* data)
    : listener_(listener), colour_(colour), data_(data)
{
}

std::shared_ptr<Drawable> RulerCreator::createDrawable(const QPointF& point)
{
    if (!ruler_) {
        ruler_ = std::make_shared<Ruler>(point, listener_, colour_);
        ruler_->setData(data_);
    }
    return ruler_;
}

RulerCreator::~RulerCreator() = default;

std::shared_ptr<Ruler> RulerCreator::getRuler()
{
    return ruler_;
}

void RulerCreator::reset()
{
    ruler_.reset();
}
