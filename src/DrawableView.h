#pragma once

#include "Drawable.h"

#include <QImage>
#include <QMetaType>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

class QMouseEvent;

// Relative picture point under the mouse, clamped to 0..1: a position outside
// the picture acts as the nearest picture edge.
QPointF coords(QMouseEvent* event, const QRect& r);

// The live video widget: shows the latest picture, draws a list of shapes
// over it and turns mouse input into shape creation and handle drags. Mouse
// buttons are not told apart, except that a right click cancels the shape
// under creation. It reports completed shapes and ended drags and never
// decides what a shape means: whoever listens to shapeCreated decides whether
// the shape joins the list. GUI thread only.
class DrawableView : public QWidget {
    Q_OBJECT
public:
    explicit DrawableView(QWidget* parent);
    ~DrawableView() override;

    // Replaces the picture; the caller calls update() afterwards.
    void setImage(const QImage& picture);
    // The picture shown under the shapes.
    const QImage& image() const { return picture_; }
    // Lends a tool (not owned); it stays armed after every completed shape.
    void setCreationTool(DrawableCreationTool* tool);

    // Appends unless the same shape is already in the list; no repaint.
    void addDrawable(std::shared_ptr<Drawable> shape);
    // Removes the shape, also while it is still being drawn, and repaints; a
    // shape neither listed nor being drawn changes nothing.
    void removeDrawable(std::shared_ptr<Drawable> shape);
    // Empties the list; no repaint.
    void clear();

    // Drops the shape under creation and repaints; false when none was being
    // created. A right click does the same.
    bool cancelCreation();

    // A line of text drawn over the picture and the shapes (empty: none);
    // the caller calls update() afterwards.
    void setOverlayText(const QString& text);
    const QString& overlayText() const { return overlayText_; }

    // A small line of plain text in the picture's bottom left corner, under
    // the overlay text and over everything else (empty: none); the caller
    // calls update() afterwards.
    void setCaption(const QString& text);
    const QString& caption() const { return caption_; }

signals:
    void shapeCreated(std::shared_ptr<Drawable> creationShape);
    void shapeEdited(Drawable* editedShape, Movable* movable);
    // The shape under creation was dropped before it was complete.
    void creationCancelled(std::shared_ptr<Drawable> cancelledShape);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void endDrag();
    void drawOverlayText(QPainter& painter) const;
    void drawCaption(QPainter& painter) const;

    std::vector<std::shared_ptr<Drawable>> shapes_;
    // The shape whose handle is being dragged: a shapeEdited listener may drop
    // it from the list, but the handle points into it until it is deleted.
    std::shared_ptr<Drawable> draggedShape_;
    std::unique_ptr<Movable> currentMovable_; // set while a drag lasts
    std::shared_ptr<Drawable> creationShape_;
    DrawableCreationTool* creationTool_ = nullptr; // lent by a page
    QImage picture_;
    QRect pictureRect_;
    QString overlayText_;
    QString caption_;
};

Q_DECLARE_METATYPE(std::shared_ptr<Drawable>)
Q_DECLARE_METATYPE(Drawable*)
Q_DECLARE_METATYPE(Movable*)
