#pragma once

#include "gui/design/KeyedReconciler.h"

#include "gui/design/Sheet.h"

class BusyIndicator;
class QLabel;
class QVBoxLayout;
class RecoveryRunner;
class RecoveryStepRow;
class SecondaryButton;

// "检查并恢复" while it happens: the runner's six steps with their live state
// and, once the run has finished, the all-good line or what needs the user.
// Closing it does not stop the run; opened again it shows the runner's state.
// Window-modal; the host opens it with open() and hides it on finished().
class RecoverySheet : public Sheet {
    Q_OBJECT
public:
    explicit RecoverySheet(RecoveryRunner* runner, QWidget* parent = nullptr);

private:
    void refresh();

    // Outlives the sheet, a child of the window, whose controller owns it.
    RecoveryRunner* m_runner;
    BusyIndicator* m_spinner;
    QVBoxLayout* m_stepsLayout;
    KeyedReconciler<QString, RecoveryStepRow> m_rows;
    QWidget* m_divider;
    QWidget* m_allGood;
    QWidget* m_needsYou;
    QVBoxLayout* m_needsYouLayout;
    SecondaryButton* m_close;
};
