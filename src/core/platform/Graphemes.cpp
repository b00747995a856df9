#include "core/platform/Graphemes.h"

#include <QTextBoundaryFinder>

#include <optional>

namespace Graphemes {

namespace {

// Where the `count`-th character of `text` ends; none when the text has no
// more. A boundary finder reads its whole text up front, so only a window at
// the start is handed to it, widened while it holds too few characters (the
// window's own end is no boundary of the text).
std::optional<qsizetype> leadingEnd(const QString& text, qsizetype count)
{
    // No more characters than code units: a text that short is kept whole.
    if (text.size() <= count)
        return std::nullopt;
    qsizetype window = count * 4 + 16;
    for (;;) {
        const bool whole = window >= text.size();
        const QStringView part = whole ? QStringView(text) : QStringView(text).left(window);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part.data(), part.size());
        qsizetype seen = 0;
        while (seen < count && finder.toNextBoundary() >= 0 && (whole || finder.position() < part.size()))
            ++seen;
        if (seen == count)
            return finder.position();
        if (whole)
            return std::nullopt;
        window *= 2;
    }
}

} // namespace

QString leading(const QString& text, qsizetype count)
{
    const std::optional<qsizetype> end = leadingEnd(text, count);
    return end ? text.left(*end) : text;
}

QString cut(const QString& text, qsizetype count)
{
    const std::optional<qsizetype> end = leadingEnd(text, count);
    if (!end || *end >= text.size())
        return text;
    return text.left(*end) + QStringLiteral("…");
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
