#pragma once

#include <QAbstractButton>

// A button that is only its text, in the face and colour it is given (a
// "plain" button): no fill, no border, a pointing hand.
class TextButton : public QAbstractButton {
    Q_OBJECT
public:
    TextButton(const QString& text, const QFont& font, const QColor& colour, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
