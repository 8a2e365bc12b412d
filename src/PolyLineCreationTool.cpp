#include "PolyLineCreationTool.h"

#include "PolyLine.h"

PolyLineCreationTool::PolyLineCreationTool(const QColor& color) : color_(color) {}

std::shared_ptr<Drawable> PolyLineCreationTool::createDrawable(const QPointF& point)
{
    auto polygon = std::make_shared<PolyLine>(point, true);
    polygon->setColor(color_);
    return polygon;
}

PolyLineCreationTool::~PolyLineCreationTool() = default;
