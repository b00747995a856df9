#pragma once

#include <QString>

// Cuts of texts the user reads, counted in characters as the user sees them
// (grapheme clusters): an emoji sequence, a letter with its combining marks
// or a surrogate pair is never cut in half. A character is any number of code
// units long (a letter under a pile of combining marks), so a kept one is cut
// to its first kCharacterUnits code units, and a cut looks at no more of the
// text than the characters it keeps can fill: what it keeps, and what it
// costs, are bounded however long the text is.
namespace Graphemes {

// The most code units a kept character keeps.
inline constexpr qsizetype kCharacterUnits = 32;

// The first `count` characters; the whole text when it has no more.
QString leading(const QString& text, qsizetype count);
// The last `count` characters; the whole text when it has no more.
QString trailing(const QString& text, qsizetype count);
// How many characters the text has.
qsizetype count(const QString& text);
// The first `count` characters followed by "…" when the text has more; the
// whole text otherwise.
QString cut(const QString& text, qsizetype count);

} // namespace Graphemes
