#include "gui/design/LazyRows.h"

#include "gui/design/FocusKeeper.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <numeric>

namespace {
// Counted for a row before any is made.
constexpr int kFirstEstimate = 60;
// How many rounds one fill takes at most: made rows change the estimate, and
// with it which rows are in view.
constexpr int kFillRounds = 4;
// What assistive technology sees of the column: every row of the list, in
// order, not only the made ones; a row asked for is made then.
class LazyRowsAccessible : public QAccessibleWidget {
public:
    explicit LazyRowsAccessible(LazyRows* rows)
        : QAccessibleWidget(rows, QAccessible::List)
    {
    }

    int childCount() const override { return int(rows()->keys().size()); }

    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        return QAccessible::queryAccessibleInterface(rows()->makeRow(rows()->keys().at(index)));
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const QObject* object = child ? child->object() : nullptr;
        for (int i = 0; object && i < childCount(); ++i) {
            if (rows()->row(rows()->keys().at(i)) == object)
                return i;
        }
        return -1;
    }

private:
    LazyRows* rows() const { return static_cast<LazyRows*>(widget()); }
};

QAccessibleInterface* accessibleRows(const QString&, QObject* object)
{
    auto* rows = qobject_cast<LazyRows*>(object);
    return rows ? new LazyRowsAccessible(rows) : nullptr;
}

} // namespace

LazyRows::LazyRows(QScrollArea* area, int spacing, Make make, Update update, QWidget* parent)
    : QWidget(parent)
    , m_area(area)
    , m_spacing(spacing)
    , m_make(std::move(make))
    , m_update(std::move(update))
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    if (m_area)
        connect(m_area->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { fill(); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusMoved(now); });
    static const bool accessible = (QAccessible::installFactory(accessibleRows), true);
    Q_UNUSED(accessible);
}

void LazyRows::setKeys(const QStringList& keys)
{
    setKeys(keys, QSet<QString>(keys.cbegin(), keys.cend()));
}

void LazyRows::setKeys(const QStringList& keys, const QSet<QString>& changed)
{
    m_keys.clear();
    m_index.clear();
    for (const QString& key : keys) {
        if (m_index.contains(key))
            continue;
        m_index.insert(key, int(m_keys.size()));
        m_keys.append(key);
    }
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (m_index.contains(it.key()) && it.value()) {
            if (changed.contains(it.key())) {
                m_update(it.value(), it.key());
                forget(it.key());
                emit filledIn(it.key());
            }
            ++it;
            continue;
        }
        if (QWidget* gone = it.value()) {
            // The focus stays with the list, not with the row that moves into the place.
            FocusKeeper::release(gone);
            gone->hide();
            gone->deleteLater();
        }
        forget(it.key());
        it = m_rows.erase(it);
    }
    fill();
    updateGeometry();
}

void LazyRows::refresh(const QString& key)
{
    QWidget* made = row(key);
    if (!made)
        return;
    m_update(made, key);
    forget(key);
    emit filledIn(key);
    fill();
    updateGeometry();
}

QWidget* LazyRows::makeRow(const QString& key)
{
    if (QWidget* made = row(key))
        return made;
    if (!m_index.contains(key))
        return nullptr;
    QWidget* made = m_make(key);
    m_update(made, key);
    m_rows.insert(key, made);
    forget(key);
    made->installEventFilter(this);
    made->show();
    emit filledIn(key);
    return made;
}

int LazyRows::madeCount() const
{
    return int(std::count_if(m_rows.cbegin(), m_rows.cend(), [](const QPointer<QWidget>& w) { return !w.isNull(); }));
}

const QHash<QString, int>& LazyRows::measured(int width) const
{
    if (!m_heights.contains(width)) {
        while (m_widths.size() >= 2)
            m_heights.remove(m_widths.takeFirst());
        m_widths.append(width);
    }
    QHash<QString, int>& heights = m_heights[width];
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (!it.value() || heights.contains(it.key()))
            continue;
        const QWidget* w = it.value();
        heights.insert(it.key(), w->hasHeightForWidth() ? w->heightForWidth(width) : w->sizeHint().height());
    }
    return heights;
}

void LazyRows::forget(const QString& key)
{
    for (QHash<QString, int>& heights : m_heights)
        heights.remove(key);
}

int LazyRows::estimate(int width) const
{
    const QHash<QString, int>& heights = measured(width);
    if (heights.isEmpty())
        return kFirstEstimate;
    return std::accumulate(heights.cbegin(), heights.cend(), 0) / int(heights.size());
}

int LazyRows::heightForWidth(int width) const
{
    if (m_keys.isEmpty())
        return 0;
    const QHash<QString, int>& heights = measured(width);
    const int guess = estimate(width);
    int total = m_spacing * int(m_keys.size() - 1);
    for (const QString& key : m_keys)
        total += heights.value(key, guess);
    return total;
}

QSize LazyRows::sizeHint() const
{
    const int w = width() > 0 ? width() : 400;
    return { w, heightForWidth(w) };
}

QSize LazyRows::minimumSizeHint() const
{
    int w = 0;
    for (const QPointer<QWidget>& row : m_rows) {
        if (row)
            w = qMax(w, row->minimumSizeHint().width());
    }
    return { w, 0 };
}

QList<int> LazyRows::place()
{
    const int w = width();
    const QHash<QString, int>& heights = measured(w);
    const int guess = estimate(w);
    QList<int> tops;
    tops.reserve(m_keys.size() + 1);
    int y = 0;
    for (const QString& key : std::as_const(m_keys)) {
        tops.append(y);
        const int h = heights.value(key, guess);
        if (QWidget* made = row(key))
            made->setGeometry(0, y, w, h);
        y += h + m_spacing;
    }
    tops.append(y);
    return tops;
}

void LazyRows::fill()
{
    if (m_filling || m_keys.isEmpty())
        return;
    if (!isVisible()) {
        // The rows in view are made once shown, at the width they have then;
        // till then only the ones always made.
        for (const QString& key : { m_keys.first(), m_keys.last() })
            makeRow(key);
        return;
    }
    m_filling = true;
    // The part of the column the view shows, with half a view more on each
    // side. No more than a screen: a view measured taller for a moment (while
    // the sheet around it fits itself to the screen) never shows more.
    const int screenHeight = screen() ? screen()->availableGeometry().height() : 800;
    QRect view(0, 0, width(), screenHeight);
    QWidget* viewport = m_area ? m_area->viewport() : nullptr;
    const bool shown = viewport && isVisible() && viewport->isAncestorOf(this);
    if (shown)
        view = QRect(mapFrom(viewport, QPoint(0, 0)), QSize(viewport->width(), qMin(viewport->height(), screenHeight)));
    const QRect wanted = view.adjusted(0, -view.height() / 2, 0, view.height() / 2);

    // The row at the top of the view keeps its place on screen when rows above it are made.
    QString anchor;
    int anchorOffset = 0;
    QList<int> tops = place();
    if (shown) {
        for (int i = 0; i < int(m_keys.size()); ++i) {
            if (tops.at(i + 1) > view.top() && row(m_keys.at(i))) {
                anchor = m_keys.at(i);
                anchorOffset = tops.at(i) - view.top();
                break;
            }
        }
    }
    for (int round = 0; round < kFillRounds; ++round) {
        QStringList missing;
        const auto want = [&](const QString& key) {
            if (!row(key) && m_index.contains(key) && !missing.contains(key))
                missing.append(key);
        };
        want(m_keys.first());
        want(m_keys.last());
        for (const QString& key : std::as_const(m_nearFocus))
            want(key);
        // The first row reaching into the wanted part, found by halving.
        const auto first = std::upper_bound(tops.cbegin(), tops.cend() - 1, wanted.top());
        for (qsizetype i = qMax<qsizetype>(0, first - tops.cbegin() - 1); i < m_keys.size(); ++i) {
            if (tops.at(i) >= wanted.bottom())
                break;
            want(m_keys.at(i));
        }
        if (missing.isEmpty())
            break;
        for (const QString& key : std::as_const(missing))
            makeRow(key);
        tops = place();
    }
    updateGeometry();
    m_filling = false;
    const int moved = anchor.isEmpty() ? 0 : tops.at(m_index.value(anchor)) - view.top() - anchorOffset;
    if (moved != 0 && m_area && m_area->widget()) {
        // The scroll range takes the column's new height first.
        QCoreApplication::sendPostedEvents(m_area->widget(), QEvent::LayoutRequest);
        m_area->verticalScrollBar()->setValue(m_area->verticalScrollBar()->value() + moved);
    }
}

void LazyRows::focusMoved(QWidget* now)
{
    QWidget* rowWidget = now;
    while (rowWidget && rowWidget->parentWidget() != this)
        rowWidget = rowWidget->parentWidget();
    if (!rowWidget)
        return;
    const QString key = m_rows.key(rowWidget);
    const int at = m_index.value(key, -1);
    if (at < 0)
        return;
    m_nearFocus = { m_keys.value(at - 1), m_keys.value(at + 1) };
    m_nearFocus.removeAll(QString());
    fill();
}

bool LazyRows::event(QEvent* event)
{
    // A made row's height changed (it said so below), or a row came or went.
    if (event->type() == QEvent::LayoutRequest)
        fill();
    return QWidget::event(event);
}

bool LazyRows::eventFilter(QObject* watched, QEvent* event)
{
    // A row's own layout asks to be done again when its content changed: only
    // that row is measured again.
    if (event->type() == QEvent::LayoutRequest) {
        for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
            if (it.value() == watched) {
                forget(it.key());
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LazyRows::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fill();
}

void LazyRows::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Fonts and styles are final once shown.
    m_heights.clear();
    m_widths.clear();
    fill();
}
