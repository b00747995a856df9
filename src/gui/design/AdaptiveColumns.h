#pragma once

#include "core/design/ColumnRule.h"
#include "gui/design/KeyedReconciler.h"

#include <QHash>
#include <QWidget>

#include <optional>

// Cards in one, two or three equal columns, as many as fit the width (the
// column rule), filled left to right. Every cell of every row has the same
// width, the short last row included; cells are top-aligned and keep their
// own heights; rows and columns are `spacing` apart. Cells are kept by id.
class AdaptiveColumns : public QWidget {
    Q_OBJECT
public:
    AdaptiveColumns(qreal minItem, qreal spacing, QWidget* parent = nullptr);

    // Updates the cells from `items` by id (see KeyedReconciler); `create`
    // returns a new cell widget (it is reparented here).
    template <typename Items, typename KeyOf, typename Create, typename Update>
    void reconcile(const Items& items, KeyOf keyOf, Create create, Update update)
    {
        QList<QWidget*> cells = m_reconciler.reconcile(items, keyOf, create, update);
        // Updated cells may have other heights now.
        forgetHeights();
        // The same cells in the same order need no new arrangement: a cell
        // whose content changed size asks for one itself (LayoutRequest).
        if (cells == m_cells)
            return;
        m_cells = std::move(cells);
        adopt();
    }

    // The width the column rule reads: the window's measured content width
    // when one is given (a section then has as many columns as the window
    // has room for), else the grid's own width.
    void setContentWidth(std::optional<qreal> width);

    int columnCount() const { return columnsFor(width()); }
    QList<QWidget*> cells() const { return m_cells; }
    QWidget* cell(const QString& id) const { return m_reconciler.find(id); }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void adopt();
    void arrange();
    int cellHeight(QWidget* cell, int width) const;
    int columnsFor(int ownWidth) const;
    void forgetHeights() { m_heights.clear(); }

    qreal m_minItem;
    qreal m_spacing;
    std::optional<qreal> m_contentWidth;
    KeyedReconciler<QString> m_reconciler;
    QList<QWidget*> m_cells;
    // The heights measured so far at each width, until a cell changes: the
    // layouts above ask again and again in one pass, and every cell measures
    // its wrapped texts each time.
    mutable QHash<int, int> m_heights;
};
