#pragma once

#include "gui/design/FocusKeeper.h"

#include <QBoxLayout>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <utility>

// Keeps one child widget per id across updates of a list, so that state a
// widget holds (an open fold, a running poll, a scroll position) survives a
// refresh: the widget of an id still present is reused and updated, a new id
// gets a new widget, a vanished id's widget is hidden and deleted later
// (the keyboard focus it held waits on the list, see FocusKeeper::release).
// A repeated id keeps its first place; later repeats are skipped (unless
// OccurrenceKeys below tells them apart).
template <typename Key, typename W = QWidget> class KeyedReconciler {
public:
    // `keyOf(item)` gives the id (it is called once per item, in order),
    // `create(item)` a new widget (the caller parents it), `update(widget,
    // item)` refreshes a widget from its item. Returns the widgets in the
    // items' order.
    template <typename Items, typename KeyOf, typename Create, typename Update>
    QList<W*> reconcile(const Items& items, KeyOf keyOf, Create create, Update update)
    {
        QHash<Key, QPointer<W>> next;
        QList<Key> order;
        QList<W*> out;
        for (const auto& item : items) {
            const Key key = keyOf(item);
            if (next.contains(key))
                continue;
            W* widget = m_widgets.value(key).data();
            if (!widget)
                widget = create(item);
            update(widget, item);
            next.insert(key, widget);
            order.append(key);
            out.append(widget);
        }
        for (auto it = m_widgets.cbegin(); it != m_widgets.cend(); ++it) {
            if (!next.contains(it.key()) && it.value()) {
                // The focus stays with the list, not with the control that moves into the place.
                FocusKeeper::release(it.value());
                it.value()->hide();
                it.value()->deleteLater();
            }
        }
        m_widgets = std::move(next);
        m_order = std::move(order);
        return out;
    }

    W* find(const Key& key) const { return m_widgets.value(key).data(); }
    QList<W*> widgets() const
    {
        QList<W*> out;
        for (const Key& k : m_order) {
            if (W* w = find(k))
                out.append(w);
        }
        return out;
    }

private:
    QHash<Key, QPointer<W>> m_widgets;
    QList<Key> m_order;
};

// Keys for a list whose ids may repeat, where every item needs a widget of
// its own: the id with its occurrence (0 for the first), made afresh for each
// reconcile, so that the n-th item of an id keeps the n-th one's widget.
//
//     OccurrenceKeys<QString> keys;
//     rows.reconcile(items, [&keys](const Item& i) { return keys(i.path); }, …);
template <typename Id> class OccurrenceKeys {
public:
    using Key = std::pair<Id, int>;

    Key operator()(const Id& id) { return { id, m_seen[id]++ }; }

private:
    QHash<Id, int> m_seen;
};

namespace KeyedLayout {

// Puts `widgets` into `layout` at positions offset, offset + 1, … in order,
// moving only the ones out of place (items after them, such as a trailing
// stretch, stay after them).
template <typename W> void place(QBoxLayout* layout, const QList<W*>& widgets, int offset = 0)
{
    for (int i = 0; i < int(widgets.size()); ++i) {
        QWidget* w = widgets.at(i);
        const int at = layout->indexOf(w);
        if (at == offset + i)
            continue;
        if (at >= 0)
            layout->removeWidget(w);
        layout->insertWidget(offset + i, w);
        w->show();
    }
}

} // namespace KeyedLayout
