#include "gui/workforce/SymbolLabel.h"

#include "gui/design/DSText.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/Icon.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QVBoxLayout>

SymbolLabel::SymbolLabel(const QString& symbol, const QString& text, qreal symbolSize, const QFont& font,
    const QColor& colour, int maxLines, QWidget* parent)
    : QWidget(parent)
    , m_colour(colour)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(5);
    // Level with the title's first line.
    m_icon = new Icon(symbol, symbolSize, colour, this);
    auto* iconBox = new QVBoxLayout;
    iconBox->setContentsMargins(0, qMax(0, (QFontMetrics(font).height() - Icon::boxFor(symbolSize)) / 2), 0, 0);
    iconBox->addWidget(m_icon);
    iconBox->addStretch(1);
    row->addLayout(iconBox);
    m_text = new ElidedLabel(maxLines, text, this);
    m_text->setFont(font);
    DSText::setColour(m_text, colour);
    row->addWidget(m_text, 1);
    setAccessibleName(text);
}

void SymbolLabel::setContent(const QString& symbol, const QString& text, const QColor& colour)
{
    if (m_icon->symbol() != symbol)
        m_icon->setSymbol(symbol);
    if (m_colour != colour) {
        m_colour = colour;
        m_icon->setTint(colour);
        DSText::setColour(m_text, colour);
    }
    if (m_text->text() != text) {
        m_text->setText(text);
        setAccessibleName(text);
    }
}
