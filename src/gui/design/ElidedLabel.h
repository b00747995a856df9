#pragma once

#include <QWidget>

#include <array>

// Plain text wrapped onto at most N lines; text beyond them is cut with an
// ellipsis at the end of the last line. The accessible name is the full text.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(int maxLines, const QString& text = QString(), QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    int maxLines() const { return m_maxLines; }

    // The lines as drawn at a width (at most maxLines; the last may be elided).
    QStringList linesForWidth(int width) const;
    bool isElided(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QStringList layOut(int width) const;

    QString m_text;
    int m_maxLines;
    void forget();

    // The lines of the last few widths asked for: a layout pass and the paint
    // that follows ask for the same few widths many times, and wrapping
    // shapes the text. A width of -1 is a free slot.
    struct Wrapped {
        int width = -1;
        QStringList lines;
    };
    mutable std::array<Wrapped, 4> m_wrapped;
    mutable int m_nextSlot = 0;
};
