#pragma once

#include <QLabel>

// Running text at a readable width: wraps onto as many lines as it needs and
// never wider than 640; narrow text keeps its own width. Add it to a layout
// with Qt::AlignLeft so that it sits at the leading edge.
class ProseLabel : public QLabel {
    Q_OBJECT
public:
    explicit ProseLabel(const QString& text = QString(), QWidget* parent = nullptr);

    static constexpr int kMaxWidth = 640;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;
};
