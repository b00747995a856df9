#include "core/platform/Graphemes.h"

#include <QTextBoundaryFinder>

namespace Graphemes {

QString leading(const QString& text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype seen = 0; seen < count; ++seen) {
        if (finder.toNextBoundary() < 0)
            return text;
    }
    return text.left(finder.position());
}

QString trailing(const QString& text, qsizetype count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    for (qsizetype seen = 0; seen < count; ++seen) {
        if (finder.toPreviousBoundary() < 0)
            return text;
    }
    return text.mid(finder.position());
}

qsizetype count(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    while (finder.toNextBoundary() >= 0)
        ++seen;
    return seen;
}

} // namespace Graphemes
