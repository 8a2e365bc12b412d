#include "ViewMouse.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace viewmouse {

namespace {

void Send(QWidget* view, QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
          Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(view->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(view, &event);
}

} // namespace

void MoveTo(QWidget* view, const QPoint& pos)
{
    Send(view, QEvent::MouseMove, pos, Qt::NoButton, Qt::NoButton);
}

void Click(QWidget* view, const QPoint& pos)
{
    MoveTo(view, pos);
    Send(view, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    Send(view, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

void Press(QWidget* view, const QPoint& pos)
{
    MoveTo(view, pos);
    Send(view, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
}

void Release(QWidget* view, const QPoint& pos)
{
    Send(view, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

void Drag(QWidget* view, const QPoint& from, const QPoint& to)
{
    MoveTo(view, from);
    Send(view, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    Send(view, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    Send(view, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    Send(view, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

void DrawPolygon(QWidget* view, const std::vector<QPoint>& corners)
{
    for (const QPoint& corner : corners) {
        Click(view, corner);
    }
    Click(view, corners.front());
}

} // namespace viewmouse
