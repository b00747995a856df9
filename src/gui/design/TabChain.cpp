#include "gui/design/TabChain.h"

#include "gui/design/FocusKeeper.h"

#include <QLayout>
#include <QScrollArea>
#include <QSet>
#include <QWidget>

#include <algorithm>

namespace {

void fromLayout(const QLayout* layout, const QWidget* parent, QList<QWidget*>& out)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* w = item->widget()) {
            if (w->parentWidget() == parent)
                out.append(w);
        } else if (const QLayout* inner = item->layout()) {
            fromLayout(inner, parent, out);
        }
    }
}

// `parent`'s shown child widgets in the order they stand in.
QList<QWidget*> childrenInOrder(const QWidget* parent)
{
    QList<QWidget*> out;
    if (const QLayout* layout = parent->layout())
        fromLayout(layout, parent, out);
    const QSet<QWidget*> laidOut(out.cbegin(), out.cend());
    QList<QWidget*> placed;
    for (QObject* child : parent->children()) {
        if (!child->isWidgetType())
            continue;
        auto* w = static_cast<QWidget*>(child);
        if (!w->isWindow() && !laidOut.contains(w))
            placed.append(w);
    }
    std::stable_sort(placed.begin(), placed.end(),
        [](const QWidget* a, const QWidget* b) { return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x()); });
    out += placed;
    // Another window (a sheet, a popup) has its own chain; what is hidden has no stop.
    out.erase(std::remove_if(out.begin(), out.end(), [](const QWidget* w) { return w->isWindow() || w->isHidden(); }),
        out.end());
    return out;
}

void collect(const QWidget* widget, QList<QWidget*>& out)
{
    for (QWidget* child : childrenInOrder(widget)) {
        out.append(child);
        collect(child, out);
    }
}

// A control Tab stops at: shown, enabled, taking focus by Tab.
bool isStop(const QWidget* w)
{
    return (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !w->focusProxy() && w->isEnabled() && w->isVisible();
}

} // namespace

namespace TabChain {

bool focusNextPrevChild(QWidget* window, bool next)
{
    if (FocusKeeper::park(window))
        return false;
    return move(window, next);
}

bool move(QWidget* window, bool next)
{
    // Every widget, not only the stops: the focus may rest on a row or a list
    // that holds it for a control that went, and Tab goes on from there.
    QList<QWidget*> all;
    collect(window, all);
    const qsizetype count = all.size();
    const qsizetype from = all.indexOf(window->focusWidget());
    for (qsizetype step = 1; step <= count; ++step) {
        const qsizetype i
            = from < 0 ? (next ? step - 1 : count - step) : ((from + (next ? step : -step)) % count + count) % count;
        QWidget* target = all.at(i);
        if (!isStop(target))
            continue;
        target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        for (QWidget* w = target->parentWidget(); w && w != window; w = w->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(w))
                area->ensureWidgetVisible(target);
        return true;
    }
    return false;
}

} // namespace TabChain
