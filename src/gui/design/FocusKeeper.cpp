#include "gui/design/FocusKeeper.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace {

const char* const kReturnName = "focus.return";

// Waits, beside the window, for the control that left: gives the focus back
// when the control can take it again, as long as the focus is still parked
// for it. One waits per window: a later park replaces it.
class Return : public QObject {
public:
    Return(QWidget* control, QWidget* holder, QWidget* window)
        : QObject(window)
        , m_control(control)
        , m_holder(holder)
    {
        setObjectName(QLatin1String(kReturnName));
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (!m_control || watched != m_control || (type != QEvent::EnabledChange && type != QEvent::Show))
            return false;
        if (!m_holder || !m_holder->hasFocus()) {
            deleteLater(); // the user has moved on
        } else if (m_control->isEnabled() && m_control->isVisible()) {
            m_control->setFocus(Qt::OtherFocusReason);
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> m_control;
    QPointer<QWidget> m_holder;
};

// The nearest ancestor of `leaving` that is shown and enabled, up to `window`.
QWidget* holderFor(QWidget* leaving, QWidget* window)
{
    QWidget* holder = leaving->parentWidget();
    while (holder != window && !(holder->isVisible() && holder->isEnabled()))
        holder = holder->parentWidget();
    return holder;
}

} // namespace

namespace FocusKeeper {

bool park(QWidget* window)
{
    QWidget* leaving = window->focusWidget();
    if (!leaving || leaving == window || (leaving->isEnabled() && leaving->isVisible()))
        return false;
    QWidget* holder = holderFor(leaving, window);
    holder->setFocus(Qt::OtherFocusReason);
    // The focus returns only to the control it is parked for now, never to
    // one it was parked for earlier that shows again later.
    for (QObject* earlier : window->findChildren<QObject*>(QLatin1String(kReturnName), Qt::FindDirectChildrenOnly))
        delete earlier;
    new Return(leaving, holder, window);
    return true;
}

void release(QWidget* leaving)
{
    QWidget* window = leaving->window();
    QWidget* focus = window->focusWidget();
    if (leaving == window || !focus || (focus != leaving && !leaving->isAncestorOf(focus)))
        return;
    holderFor(leaving, window)->setFocus(Qt::OtherFocusReason);
}

} // namespace FocusKeeper
