// Explanatory texts with **bold** and `code` marks, turned into rich text.
// Texts may carry data (titles, paths, tool output), so nothing of the input
// may come out as markup of its own.
#include "FuzzInput.h"

#include "core/design/InlineMarkup.h"

#include <cstring>

FUZZ_QUIET_QT

namespace {

void check(const QString& text)
{
    QString html = InlineMarkup::toHtml(text);
    // Take away the markup the converter itself writes; no tag may be left.
    for (const QLatin1String tag :
        { QLatin1String("<span style=\"font-family:'JetBrains Mono','Noto Sans Mono CJK SC';\">"),
            QLatin1String("</span>"), QLatin1String("<b>"), QLatin1String("</b>"), QLatin1String("<br>") })
        html.remove(tag);
    FUZZ_CHECK(!html.contains(QLatin1Char('<')) && !html.contains(QLatin1Char('>')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    check(fuzzToolOutput(data, size));
    // Also as UTF-16 code units, as a QString may hold them (lone surrogates included).
    QString units(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data, size_t(units.size()) * sizeof(QChar));
    check(units);
    return 0;
}
