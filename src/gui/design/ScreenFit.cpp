#include "gui/design/ScreenFit.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace ScreenFit {

QRect available(const QWidget* window)
{
    const QWidget* host = window->isVisible() || !window->parentWidget() ? window : window->parentWidget()->window();
    const QScreen* screen = host->screen();
    return screen ? screen->availableGeometry() : QRect();
}

QSize frameExtra(const QWidget* window)
{
    if (window->isVisible())
        return window->frameGeometry().size() - window->geometry().size();
    // Not shown yet: the window manager's title bar, as the style guesses it.
    return { 0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window) };
}

QSize room(const QWidget* window)
{
    const QRect area = available(window);
    if (area.isEmpty())
        return { QWIDGETSIZE_MAX, QWIDGETSIZE_MAX };
    return (area.size() - frameExtra(window)).expandedTo(QSize(1, 1));
}

void keepOnScreen(QWidget* window)
{
    if (!window->isVisible())
        return;
    const QRect area = available(window);
    if (area.isEmpty())
        return;
    // A window that may be smaller than it is fits within the room first.
    const QSize fits = window->size().boundedTo(room(window)).expandedTo(window->minimumSize());
    if (fits != window->size())
        window->resize(fits);
    const QRect frame = window->frameGeometry();
    // The right and bottom edges first, then the left and top: what does not fit shows its top left.
    QPoint at = frame.topLeft();
    at.setX(qMax(area.left(), qMin(at.x(), area.right() + 1 - frame.width())));
    at.setY(qMax(area.top(), qMin(at.y(), area.bottom() + 1 - frame.height())));
    if (at != frame.topLeft())
        window->move(at);
}

} // namespace ScreenFit
