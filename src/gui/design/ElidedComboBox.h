#pragma once

#include <QComboBox>

// A drop-down list whose chosen text, when wider than the box, is cut with an
// ellipsis at a character boundary rather than clipped through a glyph; the
// full text is its tool tip.
class ElidedComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ElidedComboBox(QWidget* parent = nullptr);

    // The chosen text as drawn at the current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect(const QStyleOptionComboBox& option) const;
};
