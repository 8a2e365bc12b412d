#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <memory>

class Movable;
class QPainter;

// Relative picture coordinates: x and y in 0..1 over the picture, (0, 0) its
// top-left corner. A shape stores only such points, so it survives any change
// of the rectangle the picture is drawn into.

// Maps a relative point into the pixel rectangle `r`, truncating toward zero.
// Values beyond the int range (points the camera model puts far outside the
// picture) saturate instead of wrapping.
QPoint coords(const QPointF& p, const QRect& r);

// SQUARED pixel distance between two relative points in a picture of `size`,
// truncated to int. Hit radii are compared against this squared value.
int distInPixels(const QPointF& a, const QPointF& b, const QSize& size);

// A shape drawn over the picture and edited with the mouse. The view calls it
// in a fixed order: moveInCreationMode/clickInCreationMode while it is under
// creation, getMovable for a drag once it is complete, draw on every paint.
// Sizes passed in are the picture rectangle's, so hit radii are screen pixels.
// Held by std::shared_ptr; GUI thread only.
class Drawable {
public:
    Drawable() = default;
    Drawable(const Drawable&) = delete;
    Drawable& operator=(const Drawable&) = delete;

    virtual void moveInCreationMode(const QPointF& point, const QSize& size) = 0;
    // Returns true when this click completed the shape.
    virtual bool clickInCreationMode(const QPointF& point, const QSize& size) = 0;
    virtual bool isCreationMode() = 0;
    // A new handle (owned by the caller) when `point` hits one, else null.
    virtual Movable* getMovable(const QPointF& point, const QSize& size) = 0;
    virtual void draw(QPainter& painter, const QRect& rect) const = 0;
    // Opaque user data of the page that owns the shape; not owned.
    void* getData() const;
    void setData(void* data);
    virtual ~Drawable();

private:
    void* data_ = nullptr;
};

// A drag handle of one shape. It points into its owner's storage, so the
// owner must outlive it; deleting it ends the drag.
class Movable {
public:
    explicit Movable(Drawable* owner) : owner_(owner) {}
    Movable(const Movable&) = delete;
    Movable& operator=(const Movable&) = delete;

    virtual void moveTo(const QPointF& point) = 0;
    // Puts the handled point back where it was when the handle was made.
    virtual void undo() = 0;
    virtual ~Movable();
    // End-of-drag check, run by the view before it reports the drag, so that
    // listeners see the shape as it stays. Does nothing unless a handle
    // checks its shape; deleting the handle runs the same check.
    virtual void finishDrag();

    Drawable* getOwner() const { return owner_; }

private:
    Drawable* owner_ = nullptr; // not owned
};

// Factory of the shapes a page lets the user draw. Owned by the page, lent
// to the view as a plain pointer.
class DrawableCreationTool {
public:
    DrawableCreationTool() = default;
    DrawableCreationTool(const DrawableCreationTool&) = delete;
    DrawableCreationTool& operator=(const DrawableCreationTool&) = delete;

    virtual std::shared_ptr<Drawable> createDrawable(const QPointF& point) = 0;
    virtual ~DrawableCreationTool();
};
