#include "gui/design/ProseLabel.h"

#include <QTextDocument>

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

QSize ProseLabel::sizeHint() const
{
    // The width of the text on one line (each paragraph), capped at 640.
    const QMargins m = contentsMargins();
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
    const int w = qMin(kMaxWidth, natural + m.left() + m.right());
    return { w, heightForWidth(w) };
}

QSize ProseLabel::minimumSizeHint() const
{
    const int w = qMin(sizeHint().width(), 40);
    return { w, heightForWidth(w) };
}

int ProseLabel::heightForWidth(int width) const
{
    return QLabel::heightForWidth(qMin(width, kMaxWidth));
}
