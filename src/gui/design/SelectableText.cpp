#include "gui/design/SelectableText.h"

#include <QTextDocument>
#include <QWheelEvent>

#include <cmath>

SelectableText::SelectableText(const QFont& font, const QColor& colour, QWidget* parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setAcceptRichText(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setContentsMargins(0, 0, 0, 0);
    setViewportMargins(0, 0, 0, 0);
    document()->setDocumentMargin(0);
    setFocusPolicy(Qt::NoFocus);
    setFont(font);
    document()->setDefaultFont(font);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setColour(colour);
    QSizePolicy policy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void SelectableText::setColour(const QColor& colour)
{
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::transparent);
    for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        p.setColor(group, QPalette::Text, colour);
        p.setColor(group, QPalette::WindowText, colour);
    }
    setPalette(p);
}

void SelectableText::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setPlainText(text);
    setAccessibleName(text);
    m_measured.clear();
    updateGeometry();
}

int SelectableText::heightForWidth(int width) const
{
    return m_measured.at(width, [this](int w) {
        // Measured on a copy, so the shown document keeps its own layout.
        QTextDocument probe;
        probe.setDefaultFont(font());
        probe.setDocumentMargin(0);
        QTextOption option = document()->defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        probe.setDefaultTextOption(option);
        probe.setPlainText(m_text);
        probe.setTextWidth(qMax(1, w));
        return int(std::ceil(probe.size().height()));
    });
}

QSize SelectableText::sizeHint() const
{
    const int w = qMax(1, width());
    return { w, heightForWidth(w) };
}

QSize SelectableText::minimumSizeHint() const
{
    return { 0, fontMetrics().height() };
}

void SelectableText::resizeEvent(QResizeEvent* event)
{
    QTextEdit::resizeEvent(event);
    if (heightForWidth(width()) != height())
        updateGeometry();
}

void SelectableText::wheelEvent(QWheelEvent* event)
{
    event->ignore();
}
