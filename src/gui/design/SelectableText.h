#pragma once

#include "gui/design/ByWidth.h"

#include <QTextEdit>

// Plain text that wraps onto as many lines as it needs, breaking inside a
// word when one is wider than the line (a long path, a minified line of
// code), so nothing is ever cut; selectable with the mouse, never editable.
// Takes the height its text needs at the width it is given; wheel turns
// pass to the page around it.
class SelectableText : public QTextEdit {
    Q_OBJECT
public:
    SelectableText(const QFont& font, const QColor& colour, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    void setColour(const QColor& colour);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QString m_text;
    // The heights of the last few widths asked for: a layout pass asks for a
    // few widths many times, and each answer lays the whole text out. An
    // invalid size is a free slot.
    mutable ByWidth<int> m_measured;
};
