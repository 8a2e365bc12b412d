#pragma once

#include "Drawable.h"

#include <QColor>

// Makes polygons under creation, vertices shown, in one colour.
class PolyLineCreationTool : public DrawableCreationTool {
public:
    explicit PolyLineCreationTool(const QColor& color);
    std::shared_ptr<Drawable> createDrawable(const QPointF& point) override;
    ~PolyLineCreationTool() override;

private:
    QColor color_;
};
