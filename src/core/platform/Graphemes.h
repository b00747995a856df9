#pragma once

#include <QString>

// Cuts of texts the user reads, counted in characters as the user sees them
// (grapheme clusters): an emoji sequence, a letter with its combining marks
// or a surrogate pair is never cut in half.
namespace Graphemes {

// The first `count` characters; the whole text when it has no more. Costs
// what the kept part costs, however long the text is.
QString leading(const QString& text, qsizetype count);
// The last `count` characters; the whole text when it has no more.
QString trailing(const QString& text, qsizetype count);
// How many characters the text has.
qsizetype count(const QString& text);
// The first `count` characters followed by "…" when the text has more; the
// whole text otherwise.
QString cut(const QString& text, qsizetype count);

} // namespace Graphemes
