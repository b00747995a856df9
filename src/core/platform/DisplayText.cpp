#include "core/platform/DisplayText.h"

#include "core/platform/CredentialRedaction.h"
#include "core/platform/Graphemes.h"

#include <algorithm>

namespace DisplayText {

namespace {

bool isDirectionControl(char16_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Characters read beyond the shown part before masking: a credential that
// runs across the cut is still long enough there to be recognised.
constexpr qsizetype kRedactionMargin = 64;

} // namespace

QString text(const QString& text)
{
    return Graphemes::cut(text, kTextLength);
}

QString diff(const QString& diff, DiffBudget& budget)
{
    QString shown;
    qsizetype from = 0;
    while (budget.lines > 0 && budget.units > 0) {
        const qsizetype newline = diff.indexOf(QLatin1Char('\n'), from);
        const qsizetype end = newline < 0 ? diff.size() : newline;
        // A cut looks at no more than this much of a line, and cuts the same.
        const qsizetype look = std::min(end - from, kTextLength * Graphemes::kCharacterUnits + 1);
        const QString line = text(diff.mid(from, look)) + (newline < 0 ? QString() : QStringLiteral("\n"));
        shown += line;
        budget.lines -= 1;
        budget.units -= line.size();
        if (newline < 0)
            return shown;
        from = newline + 1;
    }
    // A diff ending in a newline has no line after it.
    const qsizetype rest = from >= diff.size()
        ? 0
        : QStringView(diff).mid(from).count(QLatin1Char('\n')) + (diff.endsWith(QLatin1Char('\n')) ? 0 : 1);
    if (rest == 0)
        return shown;
    return shown + QStringLiteral("还有 ") + QString::number(rest) + QStringLiteral(" 行没有显示");
}

QString name(const QString& name)
{
    return visibleControls(Graphemes::cut(name, kNameLength));
}

QString message(const QString& message, const QStringList& secrets)
{
    QString masked = message;
    QStringList longestFirst = secrets;
    // A secret holding another is masked whole.
    std::sort(longestFirst.begin(), longestFirst.end(),
        [](const QString& a, const QString& b) { return a.size() > b.size(); });
    for (const QString& secret : std::as_const(longestFirst)) {
        if (!secret.isEmpty())
            masked.replace(secret, QStringLiteral("****"));
    }
    const QString part = Graphemes::leading(masked, kTextLength + kRedactionMargin);
    const QString shown = Graphemes::cut(CredentialRedaction::redact(part), kTextLength);
    if (part.size() < masked.size() && !shown.endsWith(QStringLiteral("…")))
        return shown + QStringLiteral("…");
    return shown;
}

std::optional<QString> shown(const std::optional<QString>& value, QString (*fit)(const QString&))
{
    if (!value)
        return std::nullopt;
    return fit(*value);
}

QString visibleControls(const QString& text)
{
    const auto controls
        = std::find_if(text.cbegin(), text.cend(), [](QChar c) { return isDirectionControl(c.unicode()); });
    if (controls == text.cend())
        return text;
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (isDirectionControl(c.unicode()))
            out += QStringLiteral("[U+%1]").arg(uint(c.unicode()), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

} // namespace DisplayText
