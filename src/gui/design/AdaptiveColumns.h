#pragma once

#include "core/design/ColumnRule.h"
#include "gui/design/KeyedReconciler.h"
#include "gui/design/LazyRows.h"

#include <QHash>
#include <QWidget>

#include <optional>

// Cards in one, two or three equal columns, as many as fit the width (the
// column rule), filled left to right. Every cell of every row has the same
// width, the short last row included; cells are top-aligned and keep their
// own heights; rows and columns are `spacing` apart. Cells are kept by id.
//
// A long list makes its cells as they come into view instead (makeInView):
// the cells in and near the view of the scroll area around the grid, and the
// ones the keyboard reaches, are made and measured; the others are counted
// at the made cells' mean height (see LazyRows).
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

    // From now on the cells are made as they come into view: `make` returns
    // the cell of a key, `update` fills it in; setKeys() gives the list.
    void makeInView(LazyRows::Make make, LazyRows::Update update);
    // The ids in order; made cells of ids still there are updated, the others go.
    void setKeys(const QStringList& keys);
    QStringList keys() const { return m_lazy ? m_lazy->keys() : QStringList(); }
    LazyRows* lazyRows() const { return m_lazy; }

    // The width the column rule reads: the window's measured content width
    // when one is given (a section then has as many columns as the window
    // has room for), else the grid's own width.
    void setContentWidth(std::optional<qreal> width);

    int columnCount() const { return columnsFor(width()); }
    // The cells, in order (made as they come into view: the made ones).
    QList<QWidget*> cells() const { return m_lazy ? m_lazy->madeRows() : m_cells; }
    QWidget* cell(const QString& id) const { return m_lazy ? m_lazy->row(id) : m_reconciler.find(id); }

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
    LazyRows* m_lazy = nullptr;
    // The heights measured so far at each width, until a cell changes: the
    // layouts above ask again and again in one pass, and every cell measures
    // its wrapped texts each time.
    mutable QHash<int, int> m_heights;
};
