#include "gui/design/AdaptiveColumns.h"

#include <QEvent>
#include <QLayoutItem>

#include <cmath>

AdaptiveColumns::AdaptiveColumns(qreal minItem, qreal spacing, QWidget* parent)
    : QWidget(parent)
    , m_minItem(minItem)
    , m_spacing(spacing)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void AdaptiveColumns::adopt()
{
    forgetHeights();
    for (QWidget* c : m_cells) {
        if (c->parentWidget() != this)
            c->setParent(this);
        c->show();
    }
    updateGeometry();
    arrange();
}

void AdaptiveColumns::makeInView(LazyRows::Make make, LazyRows::Update update)
{
    m_lazy = new LazyRows(nullptr, int(std::lround(m_spacing)), std::move(make), std::move(update), this);
    m_lazy->setColumns([this](int width) { return columnsFor(width); });
    updateGeometry();
    arrange();
}

void AdaptiveColumns::setKeys(const QStringList& keys)
{
    m_lazy->setKeys(keys);
}

void AdaptiveColumns::setContentWidth(std::optional<qreal> width)
{
    if (width == m_contentWidth)
        return;
    m_contentWidth = width;
    forgetHeights();
    if (m_lazy)
        m_lazy->refill();
    updateGeometry();
    arrange();
}

int AdaptiveColumns::columnsFor(int ownWidth) const
{
    return ColumnRule::columnCount(m_contentWidth.value_or(ownWidth), m_minItem, m_spacing);
}

int AdaptiveColumns::cellHeight(QWidget* cell, int width) const
{
    // As a layout would size it: size hint bounded by the minimum and maximum.
    const QWidgetItem item(cell);
    if (item.hasHeightForWidth())
        return item.heightForWidth(width);
    return item.sizeHint().height();
}

int AdaptiveColumns::heightForWidth(int width) const
{
    if (m_lazy)
        return m_lazy->heightForWidth(width);
    if (m_cells.isEmpty())
        return 0;
    // Kept only while shown: a cell that changes while the grid is hidden
    // asks nobody to lay out again.
    const bool keep = isVisible();
    if (keep) {
        const auto known = m_heights.constFind(width);
        if (known != m_heights.constEnd())
            return *known;
    }
    const int columns = columnsFor(width);
    const int cellWidth = qMax(0, int((width - (columns - 1) * m_spacing) / columns));
    int total = 0;
    int rows = 0;
    for (qsizetype start = 0; start < m_cells.size(); start += columns) {
        int rowHeight = 0;
        for (qsizetype i = start; i < qMin(start + columns, m_cells.size()); ++i)
            rowHeight = qMax(rowHeight, cellHeight(m_cells.at(i), cellWidth));
        total += rowHeight;
        ++rows;
    }
    const int height = total + int(std::lround((rows - 1) * m_spacing));
    // A few widths are asked for in one pass; more means the width is changing.
    if (keep) {
        if (m_heights.size() >= 8)
            m_heights.clear();
        m_heights.insert(width, height);
    }
    return height;
}

QSize AdaptiveColumns::sizeHint() const
{
    const int w = width() > 0 ? width() : int(m_minItem);
    return { int(m_minItem), heightForWidth(w) };
}

QSize AdaptiveColumns::minimumSizeHint() const
{
    return { 0, 0 };
}

void AdaptiveColumns::arrange()
{
    if (m_lazy) {
        m_lazy->setGeometry(rect());
        return;
    }
    const int w = width();
    const int columns = columnsFor(w);
    const qreal cellWidth = qMax<qreal>(0, (w - (columns - 1) * m_spacing) / columns);
    qreal y = 0;
    for (qsizetype start = 0; start < m_cells.size(); start += columns) {
        int rowHeight = 0;
        const qsizetype end = qMin(start + columns, m_cells.size());
        for (qsizetype i = start; i < end; ++i) {
            QWidget* c = m_cells.at(i);
            const int x0 = int(std::lround((i - start) * (cellWidth + m_spacing)));
            const int x1 = int(std::lround((i - start) * (cellWidth + m_spacing) + cellWidth));
            const int h = cellHeight(c, x1 - x0);
            c->setGeometry(x0, int(std::lround(y)), x1 - x0, h);
            rowHeight = qMax(rowHeight, h);
        }
        y += rowHeight + m_spacing;
    }
}

void AdaptiveColumns::resizeEvent(QResizeEvent*)
{
    arrange();
}

bool AdaptiveColumns::event(QEvent* event)
{
    // A cell whose size hint changed asks its parent to lay out again.
    if (event->type() == QEvent::LayoutRequest) {
        forgetHeights();
        updateGeometry();
        arrange();
        return true;
    }
    // Fonts and styles change every height; what was kept before a hide is old.
    if (event->type() == QEvent::Show || event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        forgetHeights();
    return QWidget::event(event);
}
