#pragma once

#include "gui/design/ByWidth.h"

#include <QWidget>

// Plain text wrapped onto at most N lines; text beyond them is cut with an
// ellipsis at the end of the last line. The accessible name is the full text.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(int maxLines, const QString& text = QString(), QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }

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

    // The lines at the last few widths asked for (the paint asks too).
    mutable ByWidth<QStringList> m_wrapped;
};
