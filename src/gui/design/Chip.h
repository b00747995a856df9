#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>

// A small tinted tag around a short text: the text in the tint on the tint
// at 0.12, rounded (radius 7), padded 7 × 2.5.
class Chip : public QWidget {
    Q_OBJECT
public:
    // `verbatimText`, when given, is shown exactly instead of `text`.
    Chip(const QString& text, const QColor& tint, const std::optional<QString>& verbatimText = std::nullopt,
        const std::optional<QString>& identifier = std::nullopt, QWidget* parent = nullptr);

    QString shownText() const { return m_shown; }
    void setTint(const QColor& tint);
    void setText(const QString& text, const std::optional<QString>& verbatimText = std::nullopt);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_shown;
    QColor m_tint;
};
