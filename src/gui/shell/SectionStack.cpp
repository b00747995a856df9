#include "gui/shell/SectionStack.h"

#include <QVBoxLayout>

SectionStack::SectionStack(int spacing, QWidget* parent)
    : QWidget(parent)
{
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(spacing);
    // Sections keep their own heights; what is left stays below the last one.
    m_layout->addStretch(1);
}

void SectionStack::setSection(int rank, QWidget* section, Qt::Alignment alignment)
{
    if (QWidget* old = m_slots.value(rank); old && old != section)
        delete old;
    m_slots.remove(rank);
    // Forget sections that were deleted elsewhere.
    for (auto it = m_slots.begin(); it != m_slots.end();)
        it = it.value() ? std::next(it) : m_slots.erase(it);
    if (!section)
        return;
    int index = 0;
    for (auto it = m_slots.cbegin(); it != m_slots.cend() && it.key() < rank; ++it)
        ++index;
    m_slots.insert(rank, section);
    m_layout->insertWidget(index, section, 0, alignment);
}

QWidget* SectionStack::section(int rank) const
{
    return m_slots.value(rank);
}

QList<QWidget*> SectionStack::sections() const
{
    QList<QWidget*> out;
    for (const QPointer<QWidget>& w : m_slots)
        if (w)
            out.append(w);
    return out;
}
