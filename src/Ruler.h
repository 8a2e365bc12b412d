#pragma once

#include "Line.h"

class Ruler;

// Told every time a ruler's end points change, with the new end points.
class RulerListener {
public:
    virtual void notify(Ruler* ruler, const QPointF& first, const QPointF& second) = 0;
    virtual ~RulerListener();
};

// Measuring line: a Line with both ends draggable whose listener hears of
// every change of its ends (each move while it is drawn, the completing
// click, each move of a dragged end and an undo).
class Ruler : public Line {
public:
    Ruler(const QPointF& p, RulerListener* listener, QColor colour);

    void moveInCreationMode(const QPointF& point, const QSize& size) override;
    bool clickInCreationMode(const QPointF& point, const QSize& size) override;
    Movable* getMovable(const QPointF& point, const QSize& size) override;
    ~Ruler() override;

private:
    void notifyListener();

    RulerListener* listener_ = nullptr; // not owned, may be null
};

// Handle on one end of a ruler: moves it through the line's own point handle
// and tells the ruler's listener.
class RulerMovable : public Movable {
public:
    RulerMovable(Drawable* owner, Movable* inner, RulerListener* listener);
    void moveTo(const QPointF& point) override;
    void undo() override;
    ~RulerMovable() override;

private:
    void notifyListener();

    RulerListener* listener_ = nullptr; // not owned, may be null
    std::unique_ptr<Movable> inner_;
};

// Tool of one ruler row: makes the row's single ruler on the first release
// and hands back the same one until reset().
class RulerCreator : public DrawableCreationTool {
public:
    RulerCreator(RulerListener* listener, const QColor& colour, void* data);

    std::shared_ptr<Drawable> createDrawable(const QPointF& point) override;
    ~RulerCreator() override;

    std::shared_ptr<Ruler> getRuler();
    void reset();

private:
    std::shared_ptr<Ruler> ruler_;
    RulerListener* listener_ = nullptr; // not owned
    QColor colour_;
    void* data_ = nullptr; // handed to the ruler, not owned
};
