#include "gui/design/DSText.h"

#include "core/design/InlineMarkup.h"

#include <QLabel>

namespace DSText {

QLabel* label(const QString& text, const QFont& font, const QColor& colour, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);
    l->setText(text);
    l->setFont(font);
    setColour(l, colour);
    return l;
}

void setMarkup(QLabel* label, const QString& markup)
{
    label->setTextFormat(Qt::RichText);
    // The same text again changes nothing: no new layout of the page around it.
    const QString html = InlineMarkup::toHtml(markup);
    if (label->text() != html)
        label->setText(html);
    label->setAccessibleName(InlineMarkup::toPlain(markup));
}

void setColour(QWidget* widget, const QColor& colour)
{
    QPalette p = widget->palette();
    for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        p.setColor(group, QPalette::WindowText, colour);
        p.setColor(group, QPalette::Text, colour);
        p.setColor(group, QPalette::ButtonText, colour);
    }
    widget->setPalette(p);
}

void setTickingText(QLabel* label, const QString& text)
{
    if (label->text() == text)
        return;
    // A widget of fixed size does not ask its parents to lay out again.
    label->setText(text);
    const QSize fitted = label->sizeHint();
    if (label->minimumSize() != fitted || label->maximumSize() != fitted)
        label->setFixedSize(fitted);
}

} // namespace DSText
