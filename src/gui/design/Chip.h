#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>

// A small tinted tag around a short text: the text in the tint on the tint
// at 0.12, rounded (radius 7), padded 7 × 2.5. Given less than its width, it
// cuts its text with an ellipsis, never in the middle of a character.
class Chip : public QWidget {
    Q_OBJECT
public:
    // `verbatimText`, when given, is shown exactly instead of `text`.
    Chip(const QString& text, const QColor& tint, const std::optional<QString>& verbatimText = std::nullopt,
        const std::optional<QString>& identifier = std::nullopt, QWidget* parent = nullptr);

    QString shownText() const { return m_shown; }
    // The text as drawn at the width it has.
    QString drawnText() const;
    // Lets a row give it less than its width (a row of labels that may be
    // long); its whole text is then in its tooltip.
    void setShrinkable();
    // A skill's chip, as the team's cards and details show a row of them:
    // muted, its label verbatim, shrinkable.
    static Chip* skill(const QString& label, QWidget* parent);
    void setTint(const QColor& tint);
    void setText(const QString& text, const std::optional<QString>& verbatimText = std::nullopt);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();

    QString m_shown;
    bool m_shrinkable = false;
    QColor m_tint;
};
