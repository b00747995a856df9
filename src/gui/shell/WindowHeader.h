#pragma once

#include "core/gateway/Records.h"
#include "core/workspaces/WorkspaceRecord.h"
#include "gui/design/ElidedComboBox.h"

#include <QList>
#include <QWidget>

class PresenceChip;
class QLabel;
class QToolButton;
class QVBoxLayout;

// The fixed row at the top of the window: which workspace is shown (a
// switcher once one is paired), the add-workspace button and the presence chip.
class WindowHeader : public QWidget {
    Q_OBJECT
public:
    explicit WindowHeader(QWidget* parent = nullptr);

    // The catalogue's records in its order and the selected id.
    void setWorkspaces(const QList<WorkspaceRecord>& records, const QString& selectedID);
    // Says nothing of the workspaces: before the catalogue's first load, which
    // waits for the companion tool, neither "还没配对" nor an old list is known true.
    void setWorkspacesPending();
    void setPresence(const AgentPresence& presence);
    // A pairing is running: the add button is disabled.
    void setBusy(bool busy);

    // The workspace widgets; null until the first setWorkspaces.
    ElidedComboBox* switcher() const { return m_switcher; }
    QLabel* unpairedLabel() const { return m_unpaired; }
    PresenceChip* presenceChip() const { return m_chip; }

signals:
    // The user picked another workspace in the switcher.
    void workspaceChosen(const QString& id);
    void addRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ensureWorkspaceWidgets();

    QVBoxLayout* m_names;
    QLabel* m_caption = nullptr;
    ElidedComboBox* m_switcher = nullptr;
    QLabel* m_unpaired = nullptr;
    QToolButton* m_add = nullptr;
    PresenceChip* m_chip;
    bool m_filling = false;
    bool m_busy = false;
};
