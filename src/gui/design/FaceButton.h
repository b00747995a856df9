#pragma once

#include <QAbstractButton>
#include <QColor>

#include <functional>
#include <optional>

class QHBoxLayout;
class QLabel;

// The shared body of the three push buttons: no platform chrome, a rounded
// (radius 9) fill, an optional 1-point inner border and a label drawn on top.
// Pressing calls the action once, synchronously; a disabled button ignores it.
class FaceButton : public QAbstractButton {
    Q_OBJECT
public:
    QLabel* titleLabel() const { return m_label; }

protected:
    FaceButton(
        const QString& title, const std::optional<QString>& identifier, std::function<void()> action, QWidget* parent);

    void setFace(const QFont& font, const QColor& text, const QColor& fill, const QColor& stroke = {});
    void setPadding(int horizontal, int vertical);
    void setShownText(const QString& text);
    QHBoxLayout* row() const { return m_row; }
    QColor fill() const { return m_fill; }
    void setFillColour(const QColor& fill);

    // Whether the dimmed look of a disabled button applies (a busy primary
    // button is disabled but keeps its own look).
    virtual bool looksDisabled() const { return !isEnabled(); }
    void applyTextColour();

    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QHBoxLayout* m_row;
    QLabel* m_label;
    QColor m_text;
    QColor m_fill;
    QColor m_stroke;
    std::function<void()> m_action;
};
