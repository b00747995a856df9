#pragma once

#include <QWidget>

class ElidedLabel;
class Icon;

// A leading symbol and a plain-text title cut after a number of lines, both
// in one colour; the symbol at its own point size.
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(const QString& symbol, const QString& text, qreal symbolSize, const QFont& font, const QColor& colour,
        int maxLines = 2, QWidget* parent = nullptr);

    void setContent(const QString& symbol, const QString& text, const QColor& colour);

private:
    Icon* m_icon;
    ElidedLabel* m_text;
    QColor m_colour;
};
