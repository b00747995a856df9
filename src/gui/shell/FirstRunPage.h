#pragma once

#include "gui/shell/SectionStack.h"

class AboutSection;
class Disclosure;
class PrimaryButton;
class QLabel;

// What the window shows while no folder is paired: the one request (pick a
// project folder), the button that pairs one, the command-line way folded
// away, then the local runtimes and the about block.
class FirstRunPage : public SectionStack {
    Q_OBJECT
public:
    // The page's slots, top to bottom.
    enum Slot { Title, Explanation, PairButton, ToolMissing, CommandHint, Runtime, About };

    explicit FirstRunPage(QWidget* parent = nullptr);

    void setBusy(bool busy);
    // Under the pairing button: no companion tool was found, and how to install it.
    void setToolMissing(bool missing);
    QLabel* toolMissingNote() const { return m_toolMissing; }
    PrimaryButton* pairButton() const { return m_pair; }
    AboutSection* about() const { return m_about; }

signals:
    void pairRequested();

private:
    PrimaryButton* m_pair;
    QLabel* m_toolMissing;
    Disclosure* m_hint;
    QLabel* m_hintText;
    AboutSection* m_about;
};
