#pragma once

#include "gui/design/Sheet.h"

#include <QCoroTask>
#include <QPointer>

class AdvancedAccess;
class QLabel;
class QLineEdit;

// The smallest way to add a custom agent: a name and the program that
// starts it (alone: its worker is started without arguments). Saving adds it to the connections and closes the sheet; a
// problem shows under the fields. Window-modal.
class AddConnectionSheet : public Sheet {
    Q_OBJECT
public:
    AddConnectionSheet(AdvancedAccess* access, QWidget* parent = nullptr);

    // Adds the connection from the fields; closes the sheet when it is stored.
    QCoro::Task<> save();

private:
    // Outlives the sheet, a child of the window, whose controller owns it.
    AdvancedAccess* m_access;
    QLineEdit* m_name;
    QLineEdit* m_command;
    QLabel* m_problem;
    bool m_saving = false;
};
