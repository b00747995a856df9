#include "gui/design/LazyRows.h"

#include "gui/design/FocusKeeper.h"
#include "gui/design/Style.h"
#include "gui/design/TabChain.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLayoutItem>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <cmath>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
// Counted for a row before any is measured.
constexpr int kFirstEstimate = 60;
// How many rounds one fill takes at most: made rows change the estimate, and
// with it which rows are in view.
constexpr int kFillRounds = 4;
// Made rows kept out of view beyond those wanted, the last wanted: scrolling
// back a little makes nothing again, and a row assistive technology asked
// for lives a while.
constexpr int kSpare = 12;
// Rows made over a column's life after which its going gives the freed
// memory back to the system: the allocator keeps it otherwise.
constexpr qint64 kTrimAfter = 200;

// Running sums (a Fenwick tree over `n` values is n + 1 long).
void addAt(QList<qint64>& tree, qsizetype i, qint64 delta)
{
    for (++i; i < tree.size(); i += i & -i)
        tree[i] += delta;
}

qint64 sumBefore(const QList<qint64>& tree, qsizetype n)
{
    qint64 sum = 0;
    for (; n > 0; n -= n & -n)
        sum += tree.at(n);
    return sum;
}

void build(QList<qint64>& tree, qsizetype n, const std::function<qint64(qsizetype)>& value)
{
    tree.fill(0, n + 1);
    for (qsizetype i = 1; i <= n; ++i) {
        tree[i] += value(i - 1);
        const qsizetype up = i + (i & -i);
        if (up <= n)
            tree[up] += tree[i];
    }
}

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
        const QString key = object ? rows()->keyOf(object) : QString();
        return key.isNull() ? -1 : rows()->indexOf(key);
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

LazyRows::~LazyRows()
{
    // The rows go after this part of the column: the focus leaving them tells it nothing any more.
    disconnect(qApp, nullptr, this, nullptr);
#if defined(__GLIBC__)
    // Once the rows have gone, the memory they and the rows let go of took
    // goes back: on the pool, as giving back a large heap takes a while.
    if (m_madeEver >= kTrimAfter)
        QTimer::singleShot(0, qApp, [] { QThreadPool::globalInstance()->start([] { malloc_trim(0); }); });
#endif
}

void LazyRows::setKeys(const QStringList& keys)
{
    setKeys(keys, QSet<QString>(keys.cbegin(), keys.cend()));
}

void LazyRows::setKeys(const QStringList& keys, const QSet<QString>& changed)
{
    QStringList previous = m_keys;
    // The same list again (a poll that changed a row or none) keeps its index.
    if (keys != m_keys) {
        m_keys.clear();
        m_index.clear();
        m_index.reserve(keys.size());
        for (const QString& key : keys) {
            if (m_index.contains(key))
                continue;
            m_index.insert(key, int(m_keys.size()));
            m_keys.append(key);
        }
    }
    if (m_keys != previous) {
        m_geometryStale = true;
        ++m_keysVersion;
    }
    m_stopCache.clear();
    QWidget* focus = QApplication::focusWidget();
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
            if (focus && (focus == gone || gone->isAncestorOf(focus))) {
                // The keyboard goes on from where the row stood: the keys
                // still listed before and after it.
                const qsizetype at = previous.indexOf(it.key());
                m_parkBefore.clear();
                m_parkAfter.clear();
                for (qsizetype i = at + 1; at >= 0 && i < previous.size() && m_parkAfter.isNull(); ++i)
                    if (m_index.contains(previous.at(i)))
                        m_parkAfter = previous.at(i);
                for (qsizetype i = at - 1; i >= 0 && m_parkBefore.isNull(); --i)
                    if (m_index.contains(previous.at(i)))
                        m_parkBefore = previous.at(i);
                m_focusKey = m_parkAfter.isNull() ? m_parkBefore : m_parkAfter;
            }
            // The focus stays with the list, not with the row that moves into the place.
            FocusKeeper::release(gone);
            m_parked = hasFocus() && !(m_parkBefore.isNull() && m_parkAfter.isNull());
            m_keyOf.remove(gone);
            gone->hide();
            gone->deleteLater();
        }
        m_spare.removeOne(it.key());
        it = m_rows.erase(it);
    }
    fill();
    updateGeometryIfStale();
    if (m_parked)
        update();
}

void LazyRows::refresh(const QString& key)
{
    QWidget* made = row(key);
    if (!made)
        return;
    m_update(made, key);
    forget(key);
    m_stopCache.clear();
    emit filledIn(key);
    fill();
    updateGeometryIfStale();
}

QList<QWidget*> LazyRows::madeRows() const
{
    QList<std::pair<int, QWidget*>> made;
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (it.value() && m_index.contains(it.key()))
            made.append({ m_index.value(it.key()), it.value().data() });
    }
    std::sort(made.begin(), made.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<QWidget*> out;
    out.reserve(made.size());
    for (const auto& [index, widget] : made)
        out.append(widget);
    return out;
}

QWidget* LazyRows::makeRow(const QString& key)
{
    if (QWidget* made = row(key))
        return made;
    if (!m_index.contains(key))
        return nullptr;
    QWidget* made = m_make(key);
    if (made->parentWidget() != this)
        made->setParent(this);
    m_update(made, key);
    m_rows.insert(key, made);
    m_keyOf.insert(made, key);
    ++m_madeEver;
    forget(key);
    made->installEventFilter(this);
    made->show();
    // In its place at once (measured once shown): a row made for assistive
    // technology or the keyboard never shows over the rows in view.
    placeRow(made, key);
    emit filledIn(key);
    return made;
}

int LazyRows::madeCount() const
{
    return int(std::count_if(m_rows.cbegin(), m_rows.cend(), [](const QPointer<QWidget>& w) { return !w.isNull(); }));
}

void LazyRows::setStops(Stops stops)
{
    m_stops = std::move(stops);
    refill();
}

void LazyRows::setColumns(Columns columns)
{
    m_columns = std::move(columns);
    refill();
}

void LazyRows::refill()
{
    m_lines.clear();
    m_stopCache.clear();
    m_geometryStale = true;
    updateGeometryIfStale();
    fillSoon();
}

void LazyRows::updateGeometryIfStale()
{
    if (std::exchange(m_geometryStale, false))
        updateGeometry();
}

void LazyRows::fillSoon()
{
    if (m_fillQueued)
        return;
    m_fillQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_fillQueued = false;
            fill();
        },
        Qt::QueuedConnection);
}

QScrollArea* LazyRows::scrollArea()
{
    if (m_area)
        return m_area;
    if (m_found && m_found->isAncestorOf(this))
        return m_found;
    if (m_found)
        disconnect(m_found->verticalScrollBar(), nullptr, this, nullptr);
    m_found = nullptr;
    for (QWidget* p = parentWidget(); p; p = p->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(p)) {
            m_found = area;
            connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { fill(); });
            break;
        }
    }
    return m_found;
}

int LazyRows::columnsAt(int width) const
{
    return m_columns ? qMax(1, m_columns(width)) : 1;
}

std::pair<int, int> LazyRows::cellSpan(int width, int column) const
{
    const int columns = columnsAt(width);
    if (columns == 1)
        return { 0, width };
    const qreal cell = qMax<qreal>(0, qreal(width - (columns - 1) * m_spacing) / columns);
    return { int(std::lround(column * (cell + m_spacing))), int(std::lround(column * (cell + m_spacing) + cell)) };
}

LazyRows::Lines& LazyRows::linesAt(int width) const
{
    auto found = std::find_if(m_lines.begin(), m_lines.end(), [width](const Lines& l) { return l.width == width; });
    if (found == m_lines.end()) {
        while (m_lines.size() >= 2)
            m_lines.removeFirst();
        Lines fresh;
        fresh.width = width;
        for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it)
            fresh.toMeasure.insert(it.key());
        m_lines.append(std::move(fresh));
        found = m_lines.end() - 1;
    }
    Lines& lines = *found;
    if (lines.keysVersion != m_keysVersion || lines.columns != columnsAt(width))
        rebuild(lines);
    if (!lines.toMeasure.isEmpty()) {
        const QSet<QString> toMeasure = std::exchange(lines.toMeasure, {});
        for (const QString& key : toMeasure) {
            QWidget* made = row(key);
            if (!made || !m_index.contains(key))
                continue;
            const auto [left, right] = cellSpan(width, m_index.value(key) % lines.columns);
            // As a layout would size it: its size hint within its minimum and maximum.
            const QWidgetItem item(made);
            setHeight(
                lines, key, item.hasHeightForWidth() ? item.heightForWidth(right - left) : item.sizeHint().height());
        }
    }
    return lines;
}

void LazyRows::rebuild(Lines& lines) const
{
    lines.keysVersion = m_keysVersion;
    lines.columns = columnsAt(lines.width);
    lines.rowSum = 0;
    lines.rowCount = 0;
    for (auto it = lines.heights.begin(); it != lines.heights.end();) {
        if (!m_index.contains(it.key())) {
            it = lines.heights.erase(it);
            continue;
        }
        lines.rowSum += it.value();
        ++lines.rowCount;
        ++it;
    }
    const qsizetype count = lineCount(lines);
    lines.tallest.fill(-1, count);
    for (auto it = lines.heights.cbegin(); it != lines.heights.cend(); ++it) {
        int& tallest = lines.tallest[m_index.value(it.key()) / lines.columns];
        tallest = qMax(tallest, it.value());
    }
    build(lines.sums, count, [&lines](qsizetype i) { return qMax(0, lines.tallest.at(i)); });
    build(lines.counts, count, [&lines](qsizetype i) { return lines.tallest.at(i) >= 0 ? 1 : 0; });
}

void LazyRows::setHeight(Lines& lines, const QString& key, int height) const
{
    const auto was = lines.heights.constFind(key);
    if (was != lines.heights.cend() && *was == height)
        return;
    m_geometryStale = true;
    if (was != lines.heights.cend()) {
        lines.rowSum -= *was;
        --lines.rowCount;
    }
    if (height >= 0) {
        lines.heights.insert(key, height);
        lines.rowSum += height;
        ++lines.rowCount;
    } else {
        lines.heights.remove(key);
    }
    const qsizetype line = m_index.value(key) / lines.columns;
    int tallest = -1;
    for (qsizetype i = line * lines.columns; i < qMin((line + 1) * lines.columns, m_keys.size()); ++i)
        tallest = qMax(tallest, lines.heights.value(m_keys.at(i), -1));
    const int before = lines.tallest.at(line);
    if (before == tallest)
        return;
    lines.tallest[line] = tallest;
    addAt(lines.sums, line, qint64(qMax(0, tallest)) - qMax(0, before));
    addAt(lines.counts, line, (tallest >= 0 ? 1 : 0) - (before >= 0 ? 1 : 0));
}

qsizetype LazyRows::lineCount(const Lines& lines) const
{
    return (m_keys.size() + lines.columns - 1) / lines.columns;
}

int LazyRows::estimate(const Lines& lines)
{
    return lines.rowCount > 0 ? int(lines.rowSum / lines.rowCount) : kFirstEstimate;
}

int LazyRows::lineTop(const Lines& lines, qsizetype line) const
{
    const qint64 measured = sumBefore(lines.counts, line);
    return int(sumBefore(lines.sums, line) + (line - measured) * estimate(lines) + line * qint64(m_spacing));
}

qsizetype LazyRows::lineAt(const Lines& lines, int y) const
{
    // The last line whose top is at or above `y`, found by halving.
    qsizetype low = 0;
    qsizetype high = lineCount(lines) - 1;
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (lineTop(lines, mid) <= y)
            low = mid;
        else
            high = mid - 1;
    }
    return qMax<qsizetype>(0, low);
}

void LazyRows::forget(const QString& key)
{
    m_geometryStale = true;
    if (!row(key))
        return;
    for (Lines& lines : m_lines)
        lines.toMeasure.insert(key);
}

int LazyRows::heightForWidth(int width) const
{
    if (m_keys.isEmpty())
        return 0;
    const Lines& lines = linesAt(width);
    return lineTop(lines, lineCount(lines)) - m_spacing;
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

void LazyRows::placeRow(QWidget* made, const QString& key)
{
    const int w = width();
    const Lines& lines = linesAt(w);
    const int at = m_index.value(key);
    const auto [left, right] = cellSpan(w, at % lines.columns);
    made->setGeometry(
        left, lineTop(lines, at / lines.columns), right - left, lines.heights.value(key, estimate(lines)));
}

void LazyRows::place()
{
    const Lines& lines = linesAt(width());
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (it.value() && m_index.contains(it.key()))
            placeRow(it.value(), it.key());
    }
    m_placedColumns = lines.columns;
}

void LazyRows::release(const QString& key)
{
    QPointer<QWidget> made = m_rows.take(key);
    m_spare.removeOne(key);
    if (!made)
        return;
    m_keyOf.remove(made.data());
    made->removeEventFilter(this);
    made->hide();
    made->deleteLater();
}

QString LazyRows::nearestStop(qsizetype from, int step) const
{
    if (!m_stops)
        return m_keys.value(from);
    const qint64 at = qint64(from) * 2 + (step > 0 ? 1 : 0);
    const auto known = m_stopCache.constFind(at);
    if (known != m_stopCache.cend())
        return *known;
    QString found;
    for (qsizetype i = from; i >= 0 && i < m_keys.size(); i += step) {
        if (m_stops(m_keys.at(i))) {
            found = m_keys.at(i);
            break;
        }
    }
    m_stopCache.insert(at, found);
    return found;
}

void LazyRows::fill()
{
    if (m_filling) {
        // The view moved while rows were being made (the scroll range
        // followed their heights): what it shows now is filled next.
        m_fillAgain = true;
        return;
    }
    if (m_keys.isEmpty())
        return;
    if (!isVisible() && m_area) {
        // The rows in view are made once shown, at the width they have then;
        // till then only the ones always made.
        for (const QString& key : { m_keys.first(), m_keys.last() })
            makeRow(key);
        if (m_stops) {
            for (const QString& key : { nearestStop(0, 1), nearestStop(m_keys.size() - 1, -1) })
                if (!key.isNull())
                    makeRow(key);
        }
        return;
    }
    m_filling = true;
    // The part of the column the view shows, with half a view more on each
    // side. No more than a screen: a view measured taller for a moment (while
    // the sheet around it fits itself to the screen) never shows more.
    const int screenHeight = screen() ? screen()->availableGeometry().height() : 800;
    QRect view(0, 0, width(), screenHeight);
    QScrollArea* area = scrollArea();
    QWidget* viewport = area ? area->viewport() : nullptr;
    const bool shown = viewport && isVisible() && viewport->isAncestorOf(this);
    if (shown) {
        view = QRect(mapFrom(viewport, QPoint(0, 0)), QSize(viewport->width(), qMin(viewport->height(), screenHeight)));
    } else if (!area && isVisible()) {
        // Nothing scrolls it: what its window covers of it is in view.
        const QWidget* top = window();
        view = QRect(mapFrom(top, QPoint(0, 0)), top->size());
    }
    const QRect wanted = view.adjusted(0, -view.height() / 2, 0, view.height() / 2);

    // The row at the top of the view keeps its place on screen when rows
    // above it are made or measured, here or since it was last placed (a row
    // made for assistive technology): it is found where it stands now.
    QPointer<QWidget> anchor;
    int anchorOffset = 0;
    if (shown) {
        for (const QPointer<QWidget>& made : std::as_const(m_rows)) {
            if (made && made->geometry().bottom() >= view.top() && (!anchor || made->y() < anchor->y()))
                anchor = made;
        }
        if (anchor)
            anchorOffset = anchor->y() - view.top();
    }
    QSet<QString> want;
    for (int round = 0; round < kFillRounds; ++round) {
        QStringList missing;
        const auto add = [&](const QString& key) {
            if (key.isNull() || !m_index.contains(key) || want.contains(key))
                return;
            want.insert(key);
            if (!row(key))
                missing.append(key);
        };
        add(m_keys.first());
        add(m_keys.last());
        if (m_stops) {
            add(nearestStop(0, 1));
            add(nearestStop(m_keys.size() - 1, -1));
        }
        const qsizetype focus = m_index.value(m_focusKey, -1);
        if (focus >= 0) {
            add(m_focusKey);
            add(m_keys.value(focus - 1));
            add(m_keys.value(focus + 1));
            if (m_stops) {
                add(nearestStop(focus - 1, -1));
                add(nearestStop(focus + 1, 1));
            }
        }
        if (m_parked) {
            add(m_parkBefore);
            add(m_parkAfter);
        }
        const Lines& lines = linesAt(width());
        const qsizetype count = lineCount(lines);
        for (qsizetype line = lineAt(lines, wanted.top()); line < count; ++line) {
            if (lineTop(lines, line) >= wanted.bottom())
                break;
            for (qsizetype i = line * lines.columns; i < qMin((line + 1) * lines.columns, m_keys.size()); ++i)
                add(m_keys.at(i));
        }
        if (missing.isEmpty())
            break;
        for (const QString& key : std::as_const(missing))
            makeRow(key);
    }
    place();

    // What is not wanted waits among the spare rows, the longest unwanted let go first.
    // The row holding the keyboard of its window stays, active or not (a question asked over it).
    QWidget* focusWidget = window()->focusWidget();
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (!it.value()) {
            m_spare.removeOne(it.key());
            it = m_rows.erase(it);
            continue;
        }
        const bool kept = want.contains(it.key()) || (m_keep && m_keep(it.key()))
            || (focusWidget && it.value()->isAncestorOf(focusWidget));
        if (kept)
            m_spare.removeOne(it.key());
        else if (!m_spare.contains(it.key()))
            m_spare.append(it.key());
        ++it;
    }
    while (m_spare.size() > kSpare)
        release(m_spare.first());

    updateGeometryIfStale();
    m_filling = false;
    if (std::exchange(m_fillAgain, false))
        fillSoon();
    const int moved = anchor ? anchor->y() - view.top() - anchorOffset : 0;
    if (moved != 0 && area && area->widget()) {
        // The scroll range takes the column's new height first.
        QCoreApplication::sendPostedEvents(area->widget(), QEvent::LayoutRequest);
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() + moved);
    }
}

void LazyRows::focusMoved(QWidget* now)
{
    if (now != this && m_parked) {
        m_parked = false;
        update();
    }
    QWidget* rowWidget = now;
    while (rowWidget && rowWidget->parentWidget() != this)
        rowWidget = rowWidget->parentWidget();
    if (!rowWidget) {
        // The keyboard went elsewhere in this window: its rows need no neighbours made any more.
        if (now && now != this && now->window() == window())
            m_focusKey.clear();
        return;
    }
    const QString key = m_keyOf.value(rowWidget);
    if (!m_index.contains(key))
        return;
    m_focusKey = key;
    fill();
}

bool LazyRows::focusNextPrevChild(bool next)
{
    // The focus waits here for a row that left: Tab goes on from its place.
    if (m_parked && hasFocus()) {
        m_parked = false;
        update();
        if (QWidget* after = row(m_parkAfter))
            return TabChain::moveFrom(window(), next, after, nullptr);
        if (QWidget* before = row(m_parkBefore))
            return TabChain::moveFrom(window(), next, nullptr, before);
    }
    return QWidget::focusNextPrevChild(next);
}

bool LazyRows::goToEnd(bool last)
{
    if (m_keys.isEmpty())
        return false;
    const QString key = last ? nearestStop(m_keys.size() - 1, -1) : nearestStop(0, 1);
    QWidget* target = makeRow(key.isNull() ? (last ? m_keys.last() : m_keys.first()) : key);
    if (!target)
        return false;
    if (QScrollArea* area = scrollArea()) {
        // The scroll range takes the column's height first.
        updateGeometryIfStale();
        QWidget* page = area->widget();
        if (page) {
            QCoreApplication::sendPostedEvents(page, QEvent::LayoutRequest);
            // What stands before the first row (or after the last) comes into view with it when it fits.
            const QRect at(target->mapTo(page, QPoint(0, 0)), target->size());
            QScrollBar* bar = area->verticalScrollBar();
            const int viewHeight = area->viewport()->height();
            if (!last && at.bottom() < viewHeight)
                bar->setValue(bar->minimum());
            else if (last && page->height() - at.top() <= viewHeight)
                bar->setValue(bar->maximum());
        }
        area->ensureWidgetVisible(target, 0, 0);
    }
    return TabChain::moveFrom(window(), true, target, nullptr);
}

void LazyRows::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Home || event->key() == Qt::Key_End)
        && !(event->modifiers() & (Qt::AltModifier | Qt::ShiftModifier)) && goToEnd(event->key() == Qt::Key_End)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
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
        const QString key = m_keyOf.value(watched);
        if (!key.isNull()) {
            forget(key);
            m_stopCache.clear();
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
    m_lines.clear();
    m_geometryStale = true;
    fill();
}

void LazyRows::paintEvent(QPaintEvent* event)
{
    if (m_parked && hasFocus()) {
        // Where the row that held the keyboard was: the focus waits there.
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QWidget* after = row(m_parkAfter);
        QWidget* before = row(m_parkBefore);
        const int y = after ? after->y() - m_spacing : before ? before->geometry().bottom() + 1 : 0;
        Style::paintFocusRing(p, QRectF(1.5, y + 1.5, width() - 3, qMax(3, m_spacing - 3)), 2);
    }
    // A part with no row made is on screen: the column moved in its scroll
    // area without a scroll (a section above it grew), or the view grew.
    if (m_filling || m_fillQueued || m_keys.isEmpty() || m_placedColumns != columnsAt(width()))
        return;
    const QRect painted = event->rect();
    const Lines& lines = linesAt(width());
    const qsizetype count = lineCount(lines);
    for (qsizetype line = lineAt(lines, painted.top()); line < count; ++line) {
        if (lineTop(lines, line) > painted.bottom())
            break;
        for (qsizetype i = line * lines.columns; i < qMin((line + 1) * lines.columns, m_keys.size()); ++i) {
            if (!row(m_keys.at(i))) {
                fillSoon();
                return;
            }
        }
    }
}
