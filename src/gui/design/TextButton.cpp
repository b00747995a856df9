#include "gui/design/TextButton.h"

#include "gui/design/DSText.h"
#include "gui/design/Style.h"

#include <QPainter>

TextButton::TextButton(const QString& text, const QFont& font, const QColor& colour, QWidget* parent)
    : QAbstractButton(parent)
{
    setText(text);
    setFont(font);
    DSText::setColour(this, colour);
    setCursor(Qt::PointingHandCursor);
    // Reached by Tab; a click does not leave a focus ring behind.
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TextButton::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return { fm.horizontalAdvance(text()) + 2, fm.height() };
}

void TextButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::ButtonText));
    p.setFont(font());
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
    if (hasFocus())
        Style::paintFocusRing(p, QRectF(rect()), 3);
}
