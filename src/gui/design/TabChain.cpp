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

// Gives the keyboard to the first stop from `start` on, forwards or
// backwards, wrapping round, and scrolls it into view.
bool stepFrom(QWidget* window, const QList<QWidget*>& all, qsizetype start, bool next)
{
    const qsizetype count = all.size();
    for (qsizetype step = 0; step < count; ++step) {
        QWidget* target = all.at(((start + (next ? step : -step)) % count + count) % count);
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
    const qsizetype from = all.indexOf(window->focusWidget());
    if (from < 0)
        return stepFrom(window, all, next ? 0 : all.size() - 1, next);
    return stepFrom(window, all, from + (next ? 1 : -1), next);
}

bool moveFrom(QWidget* window, bool next, QWidget* before, QWidget* after)
{
    QList<QWidget*> all;
    collect(window, all);
    if (before) {
        const qsizetype at = all.indexOf(before);
        if (at >= 0)
            return stepFrom(window, all, next ? at : at - 1, next);
    } else if (after) {
        qsizetype end = all.indexOf(after);
        if (end >= 0) {
            while (end + 1 < all.size() && after->isAncestorOf(all.at(end + 1)))
                ++end;
            return stepFrom(window, all, next ? end + 1 : end, next);
        }
    }
    return move(window, next);
}

} // namespace TabChain
