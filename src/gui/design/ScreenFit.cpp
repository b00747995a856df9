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
    // Not shown yet: the window manager's title bar and borders, as the style
    // draws those of a window inside a window.
    const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, window);
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    return { 2 * border, title + 2 * border };
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
    const QRect frame = window->frameGeometry();
    // The right and bottom edges first, then the left and top: what does not fit shows its top left.
    QPoint at = frame.topLeft();
    at.setX(qMax(area.left(), qMin(at.x(), area.right() + 1 - frame.width())));
    at.setY(qMax(area.top(), qMin(at.y(), area.bottom() + 1 - frame.height())));
    if (at != frame.topLeft())
        window->move(at);
}

} // namespace ScreenFit
