#include "gui/design/ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QTextLayout>

ElidedLabel::ElidedLabel(int maxLines, const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_maxLines(qMax(1, maxLines))
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setText(text);
}

void ElidedLabel::setText(const QString& text)
{
    // The same text again changes nothing: no new layout of the page around it.
    if (text == m_text)
        return;
    m_text = text;
    forget();
    setAccessibleName(text);
    updateGeometry();
    update();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        forget();
    QWidget::changeEvent(event);
}

void ElidedLabel::forget()
{
    m_wrapped.clear();
}

QStringList ElidedLabel::linesForWidth(int width) const
{
    return m_wrapped.at(width, [this](int w) { return layOut(w); });
}

QStringList ElidedLabel::layOut(int width) const
{
    QStringList lines;
    if (m_text.isEmpty() || width <= 0)
        return lines;
    const QFontMetrics fm(font());
    // Line breaks in the text count as line ends; each paragraph wraps.
    const QStringList paragraphs = m_text.split(QLatin1Char('\n'));
    for (qsizetype pi = 0; pi < paragraphs.size(); ++pi) {
        const QString& para = paragraphs.at(pi);
        QTextLayout layout(para, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        while (true) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(width);
            if (int(lines.size()) == m_maxLines - 1) {
                // The last allowed line takes the rest of the text, elided.
                QString rest = para.mid(line.textStart());
                const bool more = pi + 1 < paragraphs.size();
                if (more)
                    rest += QChar(0x2026);
                QString shown = fm.elidedText(rest, Qt::ElideRight, width);
                lines.append(shown);
                layout.endLayout();
                return lines;
            }
            lines.append(para.mid(line.textStart(), line.textLength()).trimmed());
        }
        layout.endLayout();
    }
    return lines;
}

bool ElidedLabel::isElided(int width) const
{
    const QStringList lines = linesForWidth(width);
    return !lines.isEmpty() && lines.last().endsWith(QChar(0x2026)) && !m_text.endsWith(QChar(0x2026));
}

int ElidedLabel::heightForWidth(int width) const
{
    const QFontMetrics fm(font());
    return qMax(1, int(linesForWidth(width).size())) * fm.lineSpacing();
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics fm(font());
    int natural = 0;
    for (const QString& p : m_text.split(QLatin1Char('\n')))
        natural = qMax(natural, fm.horizontalAdvance(p) + 1);
    return { natural, heightForWidth(natural) };
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics fm(font());
    return { fm.horizontalAdvance(QChar(0x2026)) * 2, fm.lineSpacing() };
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics fm(font());
    int y = fm.ascent();
    for (const QString& line : linesForWidth(width())) {
        p.drawText(0, y, line);
        y += fm.lineSpacing();
    }
}
