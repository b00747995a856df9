#include "gui/design/LazyRows.h"

#include "gui/design/FocusKeeper.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QLayoutItem>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <cmath>
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

LazyRows::~LazyRows()
{
    // The rows go after this part of the column: the focus leaving them tells it nothing any more.
    disconnect(qApp, nullptr, this, nullptr);
}

void LazyRows::setKeys(const QStringList& keys)
{
    setKeys(keys, QSet<QString>(keys.cbegin(), keys.cend()));
}

void LazyRows::setKeys(const QStringList& keys, const QSet<QString>& changed)
{
    QStringList previous = std::exchange(m_keys, {});
    m_index.clear();
    for (const QString& key : keys) {
        if (m_index.contains(key))
            continue;
        m_index.insert(key, int(m_keys.size()));
        m_keys.append(key);
    }
    if (m_keys != previous)
        m_geometryStale = true;
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
    updateGeometryIfStale();
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
    updateGeometryIfStale();
}

QList<QWidget*> LazyRows::madeRows() const
{
    QList<QWidget*> out;
    for (const QString& key : m_keys) {
        if (QWidget* made = row(key))
            out.append(made);
    }
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
    m_heights.clear();
    m_widths.clear();
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

const QHash<QString, int>& LazyRows::measured(int width) const
{
    if (!m_heights.contains(width)) {
        while (m_widths.size() >= 2)
            m_heights.remove(m_widths.takeFirst());
        m_widths.append(width);
    }
    QHash<QString, int>& heights = m_heights[width];
    const int columns = columnsAt(width);
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (!it.value() || heights.contains(it.key()))
            continue;
        const auto [left, right] = cellSpan(width, m_index.value(it.key()) % columns);
        // As a layout would size it: its size hint within its minimum and maximum.
        const QWidgetItem item(it.value());
        heights.insert(
            it.key(), item.hasHeightForWidth() ? item.heightForWidth(right - left) : item.sizeHint().height());
    }
    return heights;
}

void LazyRows::forget(const QString& key)
{
    m_geometryStale = true;
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

QList<int> LazyRows::lineTops(int width) const
{
    const QHash<QString, int>& heights = measured(width);
    const int guess = estimate(width);
    const int columns = columnsAt(width);
    QList<int> tops;
    tops.reserve(m_keys.size() / columns + 2);
    int y = 0;
    for (qsizetype start = 0; start < m_keys.size(); start += columns) {
        tops.append(y);
        int line = 0;
        for (qsizetype i = start; i < qMin(start + columns, m_keys.size()); ++i)
            line = qMax(line, heights.value(m_keys.at(i), guess));
        y += line + m_spacing;
    }
    tops.append(y);
    return tops;
}

int LazyRows::heightForWidth(int width) const
{
    if (m_keys.isEmpty())
        return 0;
    return lineTops(width).last() - m_spacing;
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
    const QList<int> tops = lineTops(w);
    const QHash<QString, int>& heights = measured(w);
    const int columns = columnsAt(w);
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (!it.value())
            continue;
        const int at = m_index.value(it.key());
        const auto [left, right] = cellSpan(w, at % columns);
        it.value()->setGeometry(left, tops.at(at / columns), right - left, heights.value(it.key()));
    }
    m_placedTops = tops;
    m_placedColumns = columns;
    return tops;
}

QString LazyRows::nearestStop(qsizetype from, int step) const
{
    for (qsizetype i = from; i >= 0 && i < m_keys.size(); i += step) {
        if (!m_stops || m_stops(m_keys.at(i)))
            return m_keys.at(i);
    }
    return QString();
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
    const int columns = columnsAt(width());
    const auto lineOf = [columns](qsizetype index) { return index / columns; };

    // The row at the top of the view keeps its place on screen when rows above it are made.
    QString anchor;
    int anchorOffset = 0;
    QList<int> tops = place();
    if (shown) {
        const auto below = std::upper_bound(tops.cbegin() + 1, tops.cend(), view.top());
        for (qsizetype i = (below - tops.cbegin() - 1) * columns; i < m_keys.size() && anchor.isEmpty(); ++i) {
            if (row(m_keys.at(i))) {
                anchor = m_keys.at(i);
                anchorOffset = tops.at(lineOf(i)) - view.top();
            }
        }
    }
    for (int round = 0; round < kFillRounds; ++round) {
        QStringList missing;
        const auto want = [&](const QString& key) {
            if (!key.isNull() && !row(key) && m_index.contains(key) && !missing.contains(key))
                missing.append(key);
        };
        want(m_keys.first());
        want(m_keys.last());
        if (m_stops) {
            want(nearestStop(0, 1));
            want(nearestStop(m_keys.size() - 1, -1));
        }
        const qsizetype focus = m_index.value(m_focusKey, -1);
        if (focus >= 0) {
            want(m_keys.value(focus - 1));
            want(m_keys.value(focus + 1));
            if (m_stops) {
                want(nearestStop(focus - 1, -1));
                want(nearestStop(focus + 1, 1));
            }
        }
        // The first line reaching into the wanted part, found by halving.
        const auto first = std::upper_bound(tops.cbegin(), tops.cend() - 1, wanted.top());
        const qsizetype lines = tops.size() - 1;
        for (qsizetype line = qMax<qsizetype>(0, first - tops.cbegin() - 1); line < lines; ++line) {
            if (tops.at(line) >= wanted.bottom())
                break;
            for (qsizetype i = line * columns; i < qMin((line + 1) * columns, m_keys.size()); ++i)
                want(m_keys.at(i));
        }
        if (missing.isEmpty())
            break;
        for (const QString& key : std::as_const(missing))
            makeRow(key);
        tops = place();
    }
    updateGeometryIfStale();
    m_filling = false;
    if (std::exchange(m_fillAgain, false))
        fillSoon();
    const int moved = anchor.isEmpty() ? 0 : tops.at(lineOf(m_index.value(anchor))) - view.top() - anchorOffset;
    if (moved != 0 && area && area->widget()) {
        // The scroll range takes the column's new height first.
        QCoreApplication::sendPostedEvents(area->widget(), QEvent::LayoutRequest);
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->value() + moved);
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
    if (!m_index.contains(key))
        return;
    m_focusKey = key;
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
    m_geometryStale = true;
    fill();
}

void LazyRows::paintEvent(QPaintEvent* event)
{
    // A part with no row made is on screen: the column moved in its scroll
    // area without a scroll (a section above it grew), or the view grew.
    if (m_filling || m_fillQueued || m_placedTops.size() < 2 || m_placedColumns != columnsAt(width()))
        return;
    const QRect painted = event->rect();
    const auto first = std::upper_bound(m_placedTops.cbegin(), m_placedTops.cend() - 1, painted.top());
    const qsizetype lines = m_placedTops.size() - 1;
    for (qsizetype line = qMax<qsizetype>(0, first - m_placedTops.cbegin() - 1); line < lines; ++line) {
        if (m_placedTops.at(line) > painted.bottom())
            break;
        for (qsizetype i = line * m_placedColumns; i < qMin((line + 1) * m_placedColumns, m_keys.size()); ++i) {
            if (!row(m_keys.at(i))) {
                fillSoon();
                return;
            }
        }
    }
}
