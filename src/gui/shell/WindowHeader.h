#pragma once

#include "core/gateway/Records.h"
#include "core/workspaces/WorkspaceRecord.h"

#include <QList>
#include <QWidget>

class PresenceChip;
class QComboBox;
class QLabel;
class QToolButton;

// The fixed row at the top of the window: which workspace is shown (a
// switcher once one is paired), the add-workspace button and the presence chip.
class WindowHeader : public QWidget {
    Q_OBJECT
public:
    explicit WindowHeader(QWidget* parent = nullptr);

    // The catalogue's records in its order and the selected id.
    void setWorkspaces(const QList<WorkspaceRecord>& records, const QString& selectedID);
    void setPresence(const AgentPresence& presence);
    // A pairing is running: the add button is disabled.
    void setBusy(bool busy);

    QComboBox* switcher() const { return m_switcher; }
    QLabel* unpairedLabel() const { return m_unpaired; }
    QToolButton* addButton() const { return m_add; }
    PresenceChip* presenceChip() const { return m_chip; }

signals:
    // The user picked another workspace in the switcher.
    void workspaceChosen(const QString& id);
    void addRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QComboBox* m_switcher;
    QLabel* m_unpaired;
    QToolButton* m_add;
    PresenceChip* m_chip;
    bool m_filling = false;
};
