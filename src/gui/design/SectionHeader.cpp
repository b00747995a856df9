#include "gui/design/SectionHeader.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "gui/design/DSText.h"
#include "gui/design/ProseLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

SectionHeader::SectionHeader(const QString& title, const QString& subtitle, QWidget* trailing, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 2);
    row->setSpacing(0);

    auto* stack = new QVBoxLayout;
    stack->setSpacing(3);
    m_title = DSText::label(title, DSFont::extraBold(17), DS::ink(), this);
    stack->addWidget(m_title, 0, Qt::AlignLeft);
    if (!subtitle.isNull()) {
        m_subtitle = new ProseLabel(subtitle, this);
        m_subtitle->setFont(DSFont::medium(11.5));
        DSText::setColour(m_subtitle, DS::muted(0.5));
        stack->addWidget(m_subtitle, 0, Qt::AlignLeft);
    }
    row->addLayout(stack, 1);
    row->addSpacing(8);
    if (trailing) {
        // Trailing controls sit on the title's line, centred on it.
        auto* holder = new QVBoxLayout;
        holder->setContentsMargins(0, 0, 0, 0);
        const int titleLine = m_title->sizeHint().height();
        const int offset = qMax(0, (titleLine - trailing->sizeHint().height()) / 2);
        holder->addSpacing(offset);
        holder->addWidget(trailing);
        holder->addStretch(1);
        row->addLayout(holder);
    }
}
