#include "DrawableView.h"

#include <QFont>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>

namespace {

double clampUnit(double value)
{
    if (value > 1) {
        return 1;
    }
    if (value < 0) {
        return 0;
    }
    return value;
}

} // namespace

QPointF coords(QMouseEvent* event, const QRect& r)
{
    // An empty rectangle has no inside; everything maps to its corner.
    if (r.width() <= 0 || r.height() <= 0) {
        return QPointF(0, 0);
    }
    const double x = static_cast<double>(event->x() - r.x()) / r.width();
    const double y = static_cast<double>(event->y() - r.y()) / r.height();
    return QPointF(clampUnit(x), clampUnit(y));
}

DrawableView::DrawableView(QWidget* parent) : QWidget(parent)
{
    qRegisterMetaType<std::shared_ptr<Drawable>>("std::shared_ptr<Drawable>");
    qRegisterMetaType<Drawable*>("Drawable*");
    qRegisterMetaType<Movable*>("Movable*");
    setMouseTracking(true);
}

DrawableView::~DrawableView()
{
    // The handle refers into its shape: delete it while the shape lives.
    currentMovable_.reset();
    draggedShape_.reset();
}

void DrawableView::setImage(const QImage& picture)
{
    picture_ = picture;
}

void DrawableView::setCreationTool(DrawableCreationTool* tool)
{
    creationTool_ = tool;
}

void DrawableView::addDrawable(std::shared_ptr<Drawable> shape)
{
    if (std::find(shapes_.begin(), shapes_.end(), shape) == shapes_.end()) {
        shapes_.push_back(std::move(shape));
    }
}

void DrawableView::removeDrawable(std::shared_ptr<Drawable> shape)
{
    // A shape still being drawn is not in the list yet; it goes too, or the
    // next mouse input would go on drawing it.
    if (shape && creationShape_ == shape) {
        creationShape_.reset();
        update();
    }
    const auto it = std::find(shapes_.begin(), shapes_.end(), shape);
    if (it != shapes_.end()) {
        shapes_.erase(it);
        update();
    }
}

void DrawableView::clear()
{
    shapes_.clear();
}

void DrawableView::setOverlayText(const QString& text)
{
    overlayText_ = text;
}

void DrawableView::setCaption(const QString& text)
{
    caption_ = text;
}

bool DrawableView::cancelCreation()
{
    if (!creationShape_) {
        return false;
    }
    const std::shared_ptr<Drawable> shape = std::move(creationShape_);
    creationShape_.reset();
    emit creationCancelled(shape);
    update();
    return true;
}

void DrawableView::mousePressEvent(QMouseEvent* event)
{
    // A press of another button during a drag leaves that drag alone.
    if (creationShape_ || currentMovable_) {
        return;
    }
    const QPointF point = coords(event, pictureRect_);
    for (const std::shared_ptr<Drawable>& shape : shapes_) {
        Movable* movable = shape->getMovable(point, pictureRect_.size());
        if (movable != nullptr) {
            draggedShape_ = shape;
            currentMovable_.reset(movable);
            return;
        }
    }
}

void DrawableView::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF point = coords(event, pictureRect_);
    if (currentMovable_) {
        currentMovable_->moveTo(point);
        update();
    } else if (creationShape_) {
        creationShape_->moveInCreationMode(point, pictureRect_.size());
        update();
    }
}

void DrawableView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPointF point = coords(event, pictureRect_);
    if (currentMovable_) {
        endDrag();
        update();
    } else if (creationShape_ && event->button() == Qt::RightButton) {
        cancelCreation();
    } else if (creationShape_) {
        const std::shared_ptr<Drawable> shape = creationShape_;
        if (shape->clickInCreationMode(point, pictureRect_.size())) {
            emit shapeCreated(shape);
            creationShape_.reset();
            update();
        }
    } else if (creationTool_ != nullptr) {
        const std::shared_ptr<Drawable> shape = creationTool_->createDrawable(point);
        creationShape_ = shape;
        if (shape && !shape->isCreationMode()) {
            emit shapeCreated(shape);
            creationShape_.reset();
        }
        update();
    }
}

void DrawableView::endDrag()
{
    // The end-of-drag check runs before the listeners hear of the drag: a
    // listener that copies the shape (the zones page rebuilds its zones from
    // the edited polygon) must not copy a crossing that is then undone. The
    // handle is deleted after them, while the shape is still held here.
    currentMovable_->finishDrag();
    emit shapeEdited(currentMovable_->getOwner(), currentMovable_.get());
    currentMovable_.reset();
    draggedShape_.reset();
}

void DrawableView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!picture_.isNull()) {
        painter.drawImage(pictureRect_, picture_);
    }
    for (const std::shared_ptr<Drawable>& shape : shapes_) {
        shape->draw(painter, pictureRect_);
    }
    if (creationShape_) {
        creationShape_->draw(painter, pictureRect_);
    }
    if (!caption_.isEmpty()) {
        drawCaption(painter);
    }
    if (!overlayText_.isEmpty()) {
        drawOverlayText(painter);
    }
}

void DrawableView::drawCaption(QPainter& painter) const
{
    painter.save();
    QFont font = painter.font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * 0.9);
        painter.setFont(font);
    }
    const QRect text = painter.fontMetrics().boundingRect(caption_);
    const QSize boxSize = text.size() + QSize(10, 4);
    const QRect box(pictureRect_.bottomLeft() + QPoint(4, -3 - boxSize.height()), boxSize);
    painter.fillRect(box, QColor(0, 0, 0, 140));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, caption_);
    painter.restore();
}

void DrawableView::drawOverlayText(QPainter& painter) const
{
    // White on a dark box, readable over any picture.
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    painter.setFont(font);
    const QRect text = painter.fontMetrics().boundingRect(overlayText_);
    const QRect box(pictureRect_.topLeft() + QPoint(8, 8), text.size() + QSize(16, 8));
    painter.fillRect(box, QColor(0, 0, 0, 160));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, overlayText_);
}

void DrawableView::resizeEvent(QResizeEvent* event)
{
    const int w = event->size().width();
    const int h = event->size().height();
    if (picture_.isNull()) {
        pictureRect_ = QRect(0, 0, w, h);
        return;
    }
    const int pictureHeight =
        static_cast<int>(w * (static_cast<double>(picture_.height()) / picture_.width()));
    const int top = (h - pictureHeight) >> 1;
    pictureRect_ = QRect(0, top, w, pictureHeight);
}
