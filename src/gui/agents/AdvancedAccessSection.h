#pragma once

#include "gui/agents/AdvancedConnectionRow.h"
#include "gui/design/Card.h"
#include "gui/design/KeyedReconciler.h"

#include <QCoroTask>
#include <QPointer>
#include <QUuid>

class AddConnectionSheet;
class AdvancedAccess;
class QLabel;
class QVBoxLayout;

// The advanced-access block of the runtime section: the agent connections the
// user added, with a way to add a custom one, and start, stop and remove.
class AdvancedAccessSection : public Card {
    Q_OBJECT
public:
    explicit AdvancedAccessSection(AdvancedAccess* access, QWidget* parent = nullptr);

    // The add sheet while it is open.
    AddConnectionSheet* addSheet() const;
    void openAdd();

private:
    void refresh();
    QCoro::Task<> askRemove(QUuid id);

    // Outlives the section and its sheet (the window's controller owns it).
    AdvancedAccess* m_access;
    QVBoxLayout* m_list;
    QLabel* m_empty;
    KeyedReconciler<QString, AdvancedConnectionRow> m_rows;
    QPointer<AddConnectionSheet> m_sheet;
};
