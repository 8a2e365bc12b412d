#pragma once

#include <QPoint>
#include <vector>

class QWidget;

// Mouse input over a video view, as the user gives it: the pointer moves
// there, then a press and a release (a click), or a press, moves and a
// release (a drag). Positions are widget pixels.
namespace viewmouse {

void MoveTo(QWidget* view, const QPoint& pos);
void Click(QWidget* view, const QPoint& pos);
// A drag in parts: something may happen while the button is held.
void Press(QWidget* view, const QPoint& pos);
void Release(QWidget* view, const QPoint& pos);
void Drag(QWidget* view, const QPoint& from, const QPoint& to);
// Clicks every corner in turn and then the first again, which closes it.
void DrawPolygon(QWidget* view, const std::vector<QPoint>& corners);

} // namespace viewmouse
