#pragma once

#include "gui/shell/SectionStack.h"

class AboutSection;

// What the window shows once a workspace is paired: the workspace's sections
// in a fixed order, from the moved-folder banner and the summary at the top
// to the about block at the bottom. Sections are put in their slots as they
// come to exist; a slot without a section takes no space.
class PairedPage : public SectionStack {
    Q_OBJECT
public:
    // The page's slots, top to bottom.
    enum Slot { RelocationBanner, SummaryBar, Team, Collaboration, Runtime, Permissions, PhonePairing, About };

    explicit PairedPage(QWidget* parent = nullptr);

    AboutSection* about() const { return m_about; }

    // While the sections are being made (the window's first frame), grey
    // blocks stand where the summary and the first cards will be and the
    // about block, which belongs at the bottom, waits hidden.
    void setPlaceholder(bool shown);
    bool placeholderShown() const { return section(kPlaceholder) != nullptr; }

private:
    static constexpr int kPlaceholder = -1;
    AboutSection* m_about;
};
