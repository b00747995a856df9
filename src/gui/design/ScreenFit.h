#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// A window on a small screen (960 × 540, say) stays on it: its size is capped
// to the room the screen leaves and, once it has its size (also when it grows
// later), it is moved so that its frame lies on the screen, title bar first.
namespace ScreenFit {

// The area a window may cover on the screen `window` is on (its parent's
// while it has none of its own), the desktop's panels aside.
QRect available(const QWidget* window);
// The size of the title bar and borders the window manager adds: measured
// once the window is shown, else as the style guesses them.
QSize frameExtra(const QWidget* window);
// The largest size the window itself may take there.
QSize room(const QWidget* window);
// Moves a shown window whose frame goes past its screen's edge back onto it;
// one taller or wider than the screen shows its top left.
void keepOnScreen(QWidget* window);

} // namespace ScreenFit
