#include "core/platform/Graphemes.h"

#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace Graphemes {

namespace {

// A character's first kCharacterUnits code units, a surrogate pair kept whole.
QStringView characterHead(QStringView character)
{
    if (character.size() <= kCharacterUnits)
        return character;
    const qsizetype n = character.at(kCharacterUnits - 1).isHighSurrogate() ? kCharacterUnits - 1 : kCharacterUnits;
    return character.left(n);
}

// The most of a text a cut of `count` characters looks at.
qsizetype lookLimit(qsizetype count)
{
    return std::max<qsizetype>(count, 1) * kCharacterUnits;
}

bool isRegionalIndicator(const QString& text, qsizetype at)
{
    if (at < 0 || at + 1 >= text.size() || !text.at(at).isHighSurrogate())
        return false;
    const char32_t c = QChar::surrogateToUcs4(text.at(at), text.at(at + 1));
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

struct Kept {
    QString text;
    bool more = false; // characters of the text are left out
};

// The first `count` characters. A boundary finder reads its whole text up
// front, so only a window at the start is handed to it, widened while it
// holds too few characters (the window's own end is no boundary of the
// text), up to what `count` long characters fill.
Kept head(const QString& text, qsizetype count)
{
    // A text this short has no more characters than count, and none too long.
    if (text.size() <= std::min(count, kCharacterUnits))
        return { text, false };
    const qsizetype limit = lookLimit(count);
    qsizetype window = std::min(count * 4 + 16, limit);
    for (;;) {
        const bool whole = window >= text.size();
        const QStringView part = whole ? QStringView(text) : QStringView(text).left(window);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part.data(), part.size());
        Kept kept;
        qsizetype seen = 0;
        qsizetype start = 0;
        while (seen < count) {
            const qsizetype end = finder.toNextBoundary();
            if (end < 0 || (!whole && end == part.size()))
                break;
            kept.text += characterHead(part.mid(start, end - start));
            start = end;
            ++seen;
        }
        if (seen == count || whole) {
            kept.more = start < text.size();
            return kept;
        }
        if (window >= limit) {
            // Long characters fill all that is looked at. The last one begun
            // is kept when its head is there; a shorter piece may be a part.
            const QStringView last = part.mid(start);
            if (last.size() >= kCharacterUnits)
                kept.text += characterHead(last);
            kept.more = true;
            return kept;
        }
        window = std::min(window * 2, limit);
    }
}

} // namespace

QString leading(const QString& text, qsizetype count)
{
    return head(text, count).text;
}

QString cut(const QString& text, qsizetype count)
{
    const Kept kept = head(text, count);
    return kept.more ? kept.text + QStringLiteral("…") : kept.text;
}

QString trailing(const QString& text, qsizetype count)
{
    if (text.size() <= std::min(count, kCharacterUnits))
        return text;
    // Only the end of the text, as much as `count` long characters fill, is
    // looked at. Regional indicators pair from the start of their run, so a
    // window that begins inside a run begins on a pair.
    qsizetype from = std::max<qsizetype>(0, text.size() - lookLimit(count));
    if (from > 0 && text.at(from).isLowSurrogate())
        --from;
    qsizetype run = from;
    while (from - run < lookLimit(count) && isRegionalIndicator(text, run - 2))
        run -= 2;
    if ((from - run) / 2 % 2 == 1)
        from -= 2;
    const QStringView part = QStringView(text).mid(from);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, part.data(), part.size());
    finder.toEnd();
    QStringList kept;
    qsizetype end = part.size();
    for (qsizetype seen = 0; seen < count; ++seen) {
        const qsizetype start = finder.toPreviousBoundary();
        if (start < 0)
            break;
        // The window's own start is no boundary of the text: the piece there
        // may be the end of a character, kept only when it is all there is.
        if (from > 0 && start == 0 && !kept.isEmpty())
            break;
        kept.prepend(characterHead(part.mid(start, end - start)).toString());
        end = start;
    }
    return kept.join(QString());
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
