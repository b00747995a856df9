#pragma once

#include "gui/design/ByWidth.h"

#include <QFont>
#include <QLabel>

// Running text at a readable width: wraps onto as many lines as it needs and
// never wider than 640 (or its maximum width); narrow text keeps its own width. Add it to a layout
// with Qt::AlignLeft so that it sits at the leading edge.
class ProseLabel : public QLabel {
    Q_OBJECT
public:
    explicit ProseLabel(const QString& text = QString(), QWidget* parent = nullptr);

    static constexpr int kMaxWidth = 640;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

private:
    // Wrapping shapes the whole text, and a layout pass asks for the same few
    // widths many times: the answers are kept until the text, its format or
    // its font changes (QLabel::setText is not virtual, so that is checked on
    // each question).
    void forgetIfChanged() const;
    int naturalWidth() const;

    mutable bool m_measured = false;
    mutable QString m_measuredText;
    mutable QFont m_measuredFont;
    mutable Qt::TextFormat m_measuredFormat = Qt::PlainText;
    mutable int m_natural = -1;
    mutable ByWidth<int> m_heights;
};
