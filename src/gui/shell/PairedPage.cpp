#include "gui/shell/PairedPage.h"

#include "gui/shell/AboutSection.h"

PairedPage::PairedPage(QWidget* parent)
    : SectionStack(20, parent)
{
    setObjectName(QStringLiteral("paired.page"));
    m_about = new AboutSection;
    setSection(About, m_about);
}
