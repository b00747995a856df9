#pragma once

#include <QList>

// How many equal columns (1 to 3) of cards fit a width: the largest n with
// n × minItem + (n − 1) × spacing ≤ width, at least 1 and at most 3.
namespace ColumnRule {

// Zero, negative and NaN widths give 1; an infinite or huge quotient gives 3
// without converting an out-of-range double to an integer.
int columnCount(double width, double minItem, double spacing);

// The items cut into consecutive runs of `columns` (the last may be shorter).
template <typename T> QList<QList<T>> rows(const QList<T>& items, int columns)
{
    QList<QList<T>> out;
    if (columns < 1)
        columns = 1;
    for (qsizetype start = 0; start < items.size(); start += columns)
        out.append(items.mid(start, columns));
    return out;
}

} // namespace ColumnRule
