#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Texts another machine supplies (the gateway's replies), made fit to reach
// a widget: no longer than a widget lays out at once, names without
// direction controls that would make them read as something else, and
// messages without the credentials they may echo.
namespace DisplayText {

// A task's text, a summary, an error, a diff: characters shown at most.
inline constexpr qsizetype kTextLength = 4000;
// A name, a path, a device or runtime id.
inline constexpr qsizetype kNameLength = 500;

// What the diffs of one task show at most, together: lines, and code units
// (each line cut as text() cuts a text). Thousands of lines still lay out
// at once.
struct DiffBudget {
    qsizetype lines = 2000;
    qsizetype units = 160000;
};

// The text cut to kTextLength characters ("…" marks a cut).
QString text(const QString& text);
// A diff's lines, whole, while `budget` lasts (lowered by what is shown);
// past that, a last line says how many lines are not shown.
QString diff(const QString& diff, DiffBudget& budget);
// The name cut to kNameLength characters, its direction controls made visible.
QString name(const QString& name);
// A message as text() shows it, after every one of `secrets` (masked word for
// word) and anything shaped like a credential has been masked.
QString message(const QString& message, const QStringList& secrets = {});
// A text that may be absent, made fit by `fit` (text or name) when present.
std::optional<QString> shown(const std::optional<QString>& value, QString (*fit)(const QString&));

// Each bidirectional formatting character (embeddings, overrides, isolates
// and marks) written out as "[U+XXXX]": a right-to-left override before
// "gnp.exe" then shows as such instead of turning the name into "exe.png".
QString visibleControls(const QString& text);

} // namespace DisplayText
