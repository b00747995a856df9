#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include <functional>

class QScrollArea;

// A long column of rows inside a scroll area whose rows are made only when
// they come near the area's view or next to the keyboard, and let go again
// once they are out of it: what a list costs follows what is shown, not how
// long the list is nor how far it was scrolled. The column is as tall as all
// its rows (each row measured at its width when it was made, a row never
// made counted at the measured rows' mean height; the lines' tops are running
// sums), so the scroll bar spans the whole list and scrolling reaches every
// row. Made are: the rows in and near the view, the first and the last row,
// the row holding the keyboard and the two beside it (so Tab and Shift+Tab
// walk through the whole list, and the tab chain, which follows places on
// screen, finds the rows in order), the rows the caller keeps (an action
// under way), and a few others last wanted; the rest are let go. A row
// holds nothing of its own: the caller fills it in from its model each time
// it is made. Made rows are reconciled by key: a refresh updates them in
// place (only those whose content changed, when the caller says which), and a
// row whose key left is taken away without handing its focus to another row.
// The focus then waits on the column, which shows a focus mark where the row
// was, and Tab and Shift+Tab go on from there. Home and End go to the first
// and the last row. A row is measured again only when its own content
// changed, so a refresh that changes one row lays out that one. Rows are made
// once the column is shown, at the width they will have (a column that
// follows the scroll area around it makes the first screen's worth before).
// Assistive technology sees the column as a list of every row, made as it is
// asked for (the view stays where it is) and let go again later.
//
// The rows may also stand side by side, a few to a line (a grid of cards):
// the lines are filled left to right in key order, every cell of a line as
// wide as the others, each cell at its own height, the line as tall as its
// tallest measured cell.
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
    // Whether the row of a key stays made while out of view (an action on it is under way).
    using Keep = std::function<bool(const QString& key)>;

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
    // The key of a made row; none for anything else.
    QString keyOf(const QObject* row) const { return m_keyOf.value(row); }
    // A key's place in the list; -1 when it is not listed.
    int indexOf(const QString& key) const { return m_index.value(key, -1); }

    // For a list where some rows hold no control: the rows made for the
    // keyboard are then the first and last that hold one and the nearest
    // ones that hold one on each side of the keyboard's row (besides its
    // neighbours), so Tab never skips a row that was not made. Without it,
    // every row counts as holding one.
    void setStops(Stops stops);
    // Cells side by side (see above); one to a line without it.
    void setColumns(Columns columns);
    void setKeep(Keep keep) { m_keep = std::move(keep); }
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
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The lines at one width: the measured rows' heights, each line's tallest
    // measured cell and running sums over the lines, so that a line's top and
    // the line at a height are found without walking the list.
    struct Lines {
        int width = -1;
        int columns = 1;
        quint64 keysVersion = 0;
        QHash<QString, int> heights;
        QList<int> tallest; // -1: no cell of the line measured
        QList<qint64> sums; // running sums of the measured lines' heights (a Fenwick tree)
        QList<qint64> counts; // and of how many lines are measured
        qint64 rowSum = 0;
        qint64 rowCount = 0;
        // Made rows whose height is to be measured (made, or their content changed).
        QSet<QString> toMeasure;
    };

    // The area given, else the nearest one around the column.
    QScrollArea* scrollArea();
    int columnsAt(int width) const;
    // A cell's left and right edges in a line at a width.
    std::pair<int, int> cellSpan(int width, int column) const;
    // The lines at a width, their made rows measured.
    Lines& linesAt(int width) const;
    void rebuild(Lines& lines) const;
    void setHeight(Lines& lines, const QString& key, int height) const;
    qsizetype lineCount(const Lines& lines) const;
    // A line's top (the end of the last for the line past it).
    int lineTop(const Lines& lines, qsizetype line) const;
    // The line reaching over a height.
    qsizetype lineAt(const Lines& lines, int y) const;
    // The height counted for a row not measured.
    static int estimate(const Lines& lines);
    // A row's content changed: it is measured again.
    void forget(const QString& key);
    // Makes the rows in and near the view, the first and last and the
    // keyboard's neighbours, places the made rows and lets go of the others
    // past a few; keeps the row at the top of the view where it is on screen.
    void fill();
    // fill() on the next turn of the event loop.
    void fillSoon();
    // Tells the layout around the column that its size may have changed, when it may have.
    void updateGeometryIfStale();
    // Sets every made row's geometry.
    void place();
    void placeRow(QWidget* made, const QString& key);
    // Lets go of a made row.
    void release(const QString& key);
    // The rows the keyboard stands beside: the one holding it and its neighbours.
    void focusMoved(QWidget* now);
    // The nearest key from index `from` on (stepping by `step`) whose row holds a stop.
    QString nearestStop(qsizetype from, int step) const;
    // Home or End: the first or last row's first control.
    bool goToEnd(bool last);

    QPointer<QScrollArea> m_area;
    QPointer<QScrollArea> m_found;
    int m_spacing;
    Make m_make;
    Update m_update;
    Stops m_stops;
    Columns m_columns;
    Keep m_keep;
    QStringList m_keys;
    QHash<QString, int> m_index;
    quint64 m_keysVersion = 1;
    QHash<QString, QPointer<QWidget>> m_rows;
    QHash<const QObject*, QString> m_keyOf;
    // Made rows no longer wanted, the longest unwanted first; let go past a few.
    QStringList m_spare;
    // The key of the row the keyboard is in.
    QString m_focusKey;
    // Where the row that held the keyboard stood when it left, while the
    // focus waits on the column: the keys then before and after it.
    QString m_parkBefore;
    QString m_parkAfter;
    bool m_parked = false;
    // The nearest stops found, by where the search started and its direction.
    mutable QHash<qint64, QString> m_stopCache;
    // The lines at the last two widths asked for: the sheet around the
    // column measures it at its full width while it is laid out narrower by
    // its scroll bar, and a row measured again costs a text layout.
    mutable QList<Lines> m_lines;
    int m_placedColumns = 1;
    // Rows made and let go over the column's life: once many were, the
    // memory goes back to the system when it goes.
    qint64 m_madeEver = 0;
    bool m_filling = false;
    bool m_fillAgain = false;
    // The keys, a made row or a measured height changed since the layout
    // around the column last heard of it: a refresh that changed nothing
    // does not lay out the page again.
    mutable bool m_geometryStale = true;
    bool m_fillQueued = false;
};
