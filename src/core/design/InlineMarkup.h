#pragma once

#include <QString>

// Explanatory texts mark emphasis inline: `**bold**` and `` `code` ``. This
// turns such a text into Qt rich text for a label. Everything else is escaped
// first, so markup carried in data (a title, a path, tool output) is shown as
// typed and never interpreted. Not a Markdown block parser: no headings,
// lists or links; an unpaired marker stays literal; line breaks become <br>.
namespace InlineMarkup {

QString toHtml(const QString& text);
// The same text as it reads, without its marks: what a screen reader is given.
QString toPlain(const QString& text);

} // namespace InlineMarkup
