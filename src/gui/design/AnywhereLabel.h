#pragma once

#include "gui/design/ByWidth.h"

#include <QLabel>

class QTextLayout;

// Plain text on as many lines as it needs at the width it is given, broken
// between words where it can and inside a word that is wider than the line (a
// reply without a space, a long address), so that it never asks for more
// width than a few characters; each line aligned as the label's alignment
// says. Its accessible name is its text, as a label's.
class AnywhereLabel : public QLabel {
    Q_OBJECT
public:
    explicit AnywhereLabel(QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Lets the mouse select part of the text, copied with Ctrl+C or the
    // context menu, as a label that selects does (a label's own selection
    // would follow its own line breaks, not these).
    void setSelectable();
    QString selectedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Lays the text out at `width` into `layout`; returns its height.
    qreal layOut(QTextLayout& layout, int width) const;
    // The text position nearest to `point`.
    int positionAt(const QPoint& point) const;
    void copy() const;
    // QLabel::setText is not virtual: a changed text or font is found on each question.
    void forgetIfChanged() const;

    mutable QString m_measuredText;
    mutable QFont m_measuredFont;
    mutable ByWidth<int> m_heights;
    bool m_selectable = false;
    // The selection, from where the press was to where the pointer is; gone with a new text.
    mutable int m_anchor = 0;
    mutable int m_cursor = 0;
};
