#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include <functional>

class QScrollArea;

// A long column of rows inside a scroll area whose rows are made only when
// they come near the area's view or next to the keyboard: what a list costs
// follows what is shown, not how long the list is. The column is as tall as
// all its rows (the made ones measured at its width, the others counted at
// their mean height), so the scroll bar spans the whole list and scrolling
// reaches every row. The first and the last row are always made, and so are
// the two beside the row holding the keyboard, so Tab and Shift+Tab walk
// through the whole list (and the tab chain, which follows places on screen,
// finds the rows in order). Made rows are kept and reconciled by key: a
// refresh updates them in place (only those whose content changed, when the
// caller says which), and a row whose key left is taken away without handing
// its focus to another row. A row is measured again only when its own content
// changed, so a refresh that changes one row lays out that one. Rows are made
// once the column is shown, at the width they will have (a column that
// follows the scroll area around it makes the first screen's worth before).
// Assistive technology sees the column as a list of every row, made as it is
// asked for.
//
// The rows may also stand side by side, a few to a line (a grid of cards):
// the lines are filled left to right in key order, every cell of a line as
// wide as the others, each cell at its own height, the line as tall as its
// tallest.
class LazyRows : public QWidget {
    Q_OBJECT
public:
    // Makes the row of a key (the column becomes its parent); fills it in with `Update`.
    using Make = std::function<QWidget*(const QString& key)>;
    using Update = std::function<void(QWidget* row, const QString& key)>;
    // Whether the row of a key, made or not, holds a control the keyboard stops at.
    using Stops = std::function<bool(const QString& key)>;
    // How many cells stand in a line at a width.
    using Columns = std::function<int(int width)>;

    // Without an area, the nearest scroll area around the column is the one
    // it follows (found when it is shown); with none around it, the part of
    // its window it covers is in view.
    LazyRows(QScrollArea* area, int spacing, Make make, Update update, QWidget* parent = nullptr);
    ~LazyRows() override;

    // The keys of the list in order (repeats after the first are skipped).
    // Rows made for keys still there are updated; the others go.
    void setKeys(const QStringList& keys);
    // The same, filling in again only the made rows of the keys in `changed`:
    // the others are left as they are.
    void setKeys(const QStringList& keys, const QSet<QString>& changed);
    const QStringList& keys() const { return m_keys; }
    // The made row of a key; none while it is not made.
    QWidget* row(const QString& key) const { return m_rows.value(key).data(); }
    // Fills in the made row of a key again (its content changed); nothing when it is not made.
    void refresh(const QString& key);
    // The made rows, in the keys' order.
    QList<QWidget*> madeRows() const;
    // Makes the row of a key now, when it is not made yet.
    QWidget* makeRow(const QString& key);
    int madeCount() const;

    // For a list where some rows hold no control: the rows made for the
    // keyboard are then the first and last that hold one and the nearest
    // ones that hold one on each side of the keyboard's row (besides its
    // neighbours), so Tab never skips a row that was not made. Without it,
    // every row counts as holding one.
    void setStops(Stops stops);
    // Cells side by side (see above); one to a line without it.
    void setColumns(Columns columns);
    int columnCount() const { return columnsAt(width()); }
    // Measures the made rows again and makes what comes into view, on the
    // next turn: the column count changed, or a row not made gained a stop.
    void refill();

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A row was filled in: made, or updated for a change of its key's content.
    void filledIn(const QString& key);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The area given, else the nearest one around the column.
    QScrollArea* scrollArea();
    int columnsAt(int width) const;
    // A cell's left and right edges in a line at a width.
    std::pair<int, int> cellSpan(int width, int column) const;
    // The made rows' heights at a width, by key.
    const QHash<QString, int>& measured(int width) const;
    // A row's content changed: it is measured again at every width.
    void forget(const QString& key);
    // The height counted for a row not made yet, at a width.
    int estimate(int width) const;
    // Each line's top at a width, and the end of the last, with the made rows' heights.
    QList<int> lineTops(int width) const;
    // Makes the rows in and near the view, the first and last and the
    // keyboard's neighbours, then places every made row; keeps the row at the
    // top of the view where it was.
    void fill();
    // fill() on the next turn of the event loop.
    void fillSoon();
    // Tells the layout around the column that its size may have changed, when it may have.
    void updateGeometryIfStale();
    // Sets every made row's geometry; returns each line's top, in order.
    QList<int> place();
    // The rows the keyboard stands beside: the one holding it and its neighbours.
    void focusMoved(QWidget* now);
    // The nearest key from index `from` on (stepping by `step`) whose row holds a stop.
    QString nearestStop(qsizetype from, int step) const;

    QPointer<QScrollArea> m_area;
    QPointer<QScrollArea> m_found;
    int m_spacing;
    Make m_make;
    Update m_update;
    Stops m_stops;
    Columns m_columns;
    QStringList m_keys;
    QHash<QString, int> m_index;
    QHash<QString, QPointer<QWidget>> m_rows;
    // The key of the row the keyboard is in.
    QString m_focusKey;
    // The heights at the last two widths asked for: the sheet around the
    // column measures it at its full width while it is laid out narrower by
    // its scroll bar, and a row measured again costs a text layout.
    mutable QList<int> m_widths;
    mutable QHash<int, QHash<QString, int>> m_heights;
    // The lines' tops as last placed, for telling a painted part with no row made.
    QList<int> m_placedTops;
    int m_placedColumns = 1;
    bool m_filling = false;
    bool m_fillAgain = false;
    // The keys, a made row or a measured height changed since the layout
    // around the column last heard of it: a refresh that changed nothing
    // does not lay out the page again.
    bool m_geometryStale = true;
    bool m_fillQueued = false;
};
