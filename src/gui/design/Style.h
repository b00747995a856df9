#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

// Every style sheet and every painted rounded plate of the window, in one
// place, built from the palette (core/design/DS.h): no colour is written out
// by hand anywhere else.
namespace Style {

// The thin vertical scroll bar. Set it on the bar itself: a sheet on a scroll
// area would also stop the palette from reaching the labels inside it.
QString scrollBar();

// Keyboard focus, the same on every control that takes it: a 1-point ring
// just inside the control's edge (painted controls draw it with
// paintFocusRing(), styled ones get it from their sheet below).
QColor focusRing();
void paintFocusRing(QPainter& p, const QRectF& rect, qreal radius);

// Text fields (line edits and combo boxes) on a sheet, with the focus ring
// while one has the keyboard focus.
QString field();

// The runtime section's output log (a read-only plain text box, the focus
// ring while it has the keyboard focus) and its bar.
QString logView();

// The header's workspace switcher: a combo box with no border but the focus
// ring while it has the keyboard focus, and its popup list.
QString workspaceSwitcher();

// A small outlined button that holds only an icon; its outline is the focus
// ring while it has the keyboard focus.
QString iconButton();

// A rounded plate: `fill` over the whole of `rect` and, when `stroke` is valid
// and not fully transparent, a 1-point border inside its edge. Turns on
// antialiasing; a border leaves the pen and brush set to it.
void paintPlate(QPainter& p, const QRectF& rect, qreal radius, const QColor& fill, const QColor& stroke = QColor());

} // namespace Style
