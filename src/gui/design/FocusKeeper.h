#pragma once

class QWidget;

// Where the keyboard goes when the control holding it turns disabled or is
// hidden: a button turning busy, a row's buttons rebuilt, a box taken away.
// Qt would hand the focus to the next control in the window's tab chain (on
// the page that is another item's button, which a scroll area then scrolls
// into view, and Space acts on that item). Instead the focus waits on the
// nearest ancestor still shown, the row acted on or what held it, and nothing
// scrolls; the control gets it back when it is enabled or shown again while
// the focus still waits for it. It waits for the last control it was parked
// for only: a control that left earlier and shows again later gets nothing.
//
// Every window and sheet routes its focusNextPrevChild() through park() first
// (TabChain::focusNextPrevChild).
namespace FocusKeeper {

// When `window`'s focus widget is leaving (disabled or hidden), parks the
// focus as above and returns true; the caller then returns false, so that no
// scroll area on the way scrolls to where the focus went. Otherwise (a Tab
// press, say) returns false and changes nothing.
bool park(QWidget* window);

// For a widget about to be taken away for good (a row whose item left, a
// button replaced): when it holds its window's focus, itself or a control in
// it, the focus moves to the nearest ancestor still shown first. Also when
// its window is not the active one: Qt moves the focus only in the active
// window, and on activation would hand a focus left on a hidden control to
// the next control in the tab chain, the button of the row that moved up.
void release(QWidget* leaving);

} // namespace FocusKeeper
