#pragma once

class QScrollArea;
class QWidget;

// Bringing a part of a scrolling page into view: the page's own scroll area
// moves, animated unless motion is reduced. Layouts still pending are settled
// first, so that a part just made is measured where it will be.
namespace ScrollIntoView {

// The scroll area whose page holds `widget`; null when none does.
QScrollArea* areaOf(const QWidget* widget);
// Puts the top of `widget` at the top of the view, as far as the page goes.
void toTop(QWidget* widget);
// The same, unless the top of `widget` is already in view.
void reveal(QWidget* widget);

} // namespace ScrollIntoView
