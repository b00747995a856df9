#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

// Small helpers for the plain-text labels of the design system.
namespace DSText {

// A label that shows `text` as plain text (never as HTML) in a face and colour.
QLabel* label(const QString& text, const QFont& font, const QColor& colour, QWidget* parent = nullptr);

// Shows an explanation with inline `**bold**` and `` `code` `` marks
// (InlineMarkup) as rich text; its accessible name is the text without the
// marks, so that a screen reader does not read them out.
void setMarkup(QLabel* label, const QString& markup);

// Sets the text colour of a widget in every colour group (a disabled parent
// does not grey it; callers that want a disabled look set it themselves).
void setColour(QWidget* widget, const QColor& colour);

// For a label whose text changes on every poll (a counter, a clock): it keeps
// a fixed size fitted to its text, so that a new text of the same size
// repaints the label without laying out the page again.
void setTickingText(QLabel* label, const QString& text);

} // namespace DSText
