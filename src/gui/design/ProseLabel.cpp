#include "gui/design/ProseLabel.h"

#include <QTextDocument>

#include <algorithm>
#include <cmath>

ProseLabel::ProseLabel(const QString& text, QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setText(text);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void ProseLabel::forgetIfChanged() const
{
    if (m_measured && text() == m_measuredText && textFormat() == m_measuredFormat && font() == m_measuredFont)
        return;
    m_measured = true;
    m_measuredText = text();
    m_measuredFormat = textFormat();
    m_measuredFont = font();
    m_natural = -1;
    m_heights.clear();
}

int ProseLabel::naturalWidth() const
{
    forgetIfChanged();
    if (m_natural >= 0)
        return m_natural;
    // The width of the text on one line (each paragraph).
    int natural = 0;
    if (textFormat() == Qt::RichText || (textFormat() == Qt::AutoText && Qt::mightBeRichText(text()))) {
        QTextDocument doc;
        doc.setDefaultFont(font());
        doc.setDocumentMargin(0);
        doc.setHtml(text());
        natural = int(std::ceil(doc.idealWidth()));
    } else {
        const QFontMetrics fm(font());
        for (const QString& line : text().split(QLatin1Char('\n')))
            natural = qMax(natural, fm.horizontalAdvance(line) + 1);
    }
    m_natural = natural;
    return natural;
}

QSize ProseLabel::sizeHint() const
{
    // The text on one line, capped at 640.
    const QMargins m = contentsMargins();
    const int w = qMin(kMaxWidth, naturalWidth() + m.left() + m.right());
    return { w, heightForWidth(w) };
}

QSize ProseLabel::minimumSizeHint() const
{
    const int w = qMin(sizeHint().width(), 40);
    return { w, heightForWidth(w) };
}

int ProseLabel::heightForWidth(int width) const
{
    // A layout asks at the width it has, also when the label may not be that
    // wide: measured wider than it is drawn, it would take fewer lines than it
    // shows and squeeze what comes after it.
    const int w = std::min({ width, kMaxWidth, maximumWidth() });
    forgetIfChanged();
    return m_heights.at(w, [this](int at) { return QLabel::heightForWidth(at); });
}
