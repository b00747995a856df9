#include "gui/design/ElidedLine.h"

#include <QPainter>

ElidedLine::ElidedLine(Qt::TextElideMode mode, const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_mode(mode)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setText(text);
}

void ElidedLine::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QString ElidedLine::shownText() const
{
    // A line break would start a second line: show it as a space.
    QString oneLine = m_text;
    oneLine.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return fontMetrics().elidedText(oneLine, m_mode, width());
}

QSize ElidedLine::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return { fm.horizontalAdvance(m_text) + 1, fm.height() };
}

QSize ElidedLine::minimumSizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    return { qMin(fm.horizontalAdvance(m_text) + 1, fm.horizontalAdvance(QChar(0x2026)) * 4), fm.height() };
}

void ElidedLine::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}
