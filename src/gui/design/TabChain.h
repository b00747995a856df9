#pragma once

class QWidget;

// The order Tab goes through a window's controls: the order they stand in on
// screen, not the order they were made in. Qt's own chain follows creation,
// so a row rebuilt by a poll, or a section made after the first frame, would
// move to the end of it and the page would jump about on every Tab.
//
// The chain is taken afresh from the window at each press: a widget's children
// come in the order its layout holds them (nested layouts in place), then the
// ones placed by hand (cards in columns, a scroll area's page), top to bottom
// and left to right; each child is followed by its own children. So a section
// comes whole, left to right and top to bottom, wherever it was made.
namespace TabChain {

// What every window and sheet does in its focusNextPrevChild(): a control
// that is leaving parks the focus on its row (FocusKeeper::park, false);
// otherwise Tab moves along the chain (move below).
bool focusNextPrevChild(QWidget* window, bool next);

// Gives the keyboard to the next (or, with `next` false, the previous) stop
// after the window's focus widget, wrapping round, and scrolls it into view in
// any scroll area around it. False when the window has no stop.
bool move(QWidget* window, bool next);

// The same from a place in the chain instead of the focus widget: just
// before `before` (Tab reaches its first stop, Shift+Tab the last stop ahead
// of it), or, without it, just after `after` and everything in it.
bool moveFrom(QWidget* window, bool next, QWidget* before, QWidget* after);

} // namespace TabChain
