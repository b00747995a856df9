#pragma once

#include <QWidget>

// Plain text on one line; text wider than the widget is cut with an ellipsis
// where the mode says (the middle keeps both ends of a path). The accessible
// name is the full text.
class ElidedLine : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLine(Qt::TextElideMode mode, const QString& text = QString(), QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    // The text as drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    Qt::TextElideMode m_mode;
};
