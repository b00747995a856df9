#include "gui/design/FlowLayout.h"

#include <QWidget>

FlowLayout::FlowLayout(QWidget* parent, int spacing)
    : QLayout(parent)
    , m_spacing(spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout()
{
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void FlowLayout::addItem(QLayoutItem* item)
{
    m_items.append(item);
}

QLayoutItem* FlowLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

QSize FlowLayout::sizeHint() const
{
    // All on one line, as wide as that takes.
    int width = 0;
    int height = 0;
    for (QLayoutItem* item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize s = item->sizeHint();
        width += (width > 0 ? m_spacing : 0) + s.width();
        height = qMax(height, s.height());
    }
    const QMargins m = contentsMargins();
    return { width + m.left() + m.right(), height + m.top() + m.bottom() };
}

QSize FlowLayout::minimumSize() const
{
    // As narrow as the widest item.
    QSize size;
    for (QLayoutItem* item : m_items) {
        if (!item->isEmpty())
            size = size.expandedTo(item->sizeHint());
    }
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool apply) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    // Cut into lines first, so that each line's items can share its centre.
    QList<QList<QLayoutItem*>> lines(1);
    int x = 0;
    for (QLayoutItem* item : m_items) {
        if (item->isEmpty())
            continue;
        const int w = item->sizeHint().width();
        if (x > 0 && x + m_spacing + w > area.width()) {
            lines.emplaceBack();
            x = 0;
        }
        x += (x > 0 ? m_spacing : 0) + w;
        lines.last().append(item);
    }
    int y = area.y();
    bool first = true;
    for (const QList<QLayoutItem*>& line : lines) {
        if (line.isEmpty())
            continue;
        int lineHeight = 0;
        for (QLayoutItem* item : line)
            lineHeight = qMax(lineHeight, item->sizeHint().height());
        if (!first)
            y += m_spacing;
        first = false;
        if (apply) {
            int left = area.x();
            for (QLayoutItem* item : line) {
                const QSize s = item->sizeHint();
                item->setGeometry(QRect(QPoint(left, y + (lineHeight - s.height()) / 2), s));
                left += s.width() + m_spacing;
            }
        }
        y += lineHeight;
    }
    const QMargins m = contentsMargins();
    return y - area.y() + m.top() + m.bottom();
}
