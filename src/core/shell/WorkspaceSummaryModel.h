#pragma once

#include "core/platform/SerialFileWriter.h"
#include "core/shell/WorkspaceSummary.h"

#include <QObject>
#include <QPointer>

class AgentServiceHealth;
class PendingCall;
class RuntimeController;
class RuntimeEnablement;
class RuntimeInventoryStore;
class Status;
class WorkforceModel;
class WorkspaceCatalog;

// The workspace summary as a model: derived again (once per turn of the event
// loop) whenever one of the stores it reads publishes a change, and shared by
// the summary bar, which only draws it.
//
// It also keeps "desktop_summary.json" current for tools outside the window,
// while the summary is on screen: becoming shown writes what it holds, and
// while shown every different summary is written again (off the GUI thread,
// the latest value last). An unchanged summary is not written.
class WorkspaceSummaryModel : public QObject {
    Q_OBJECT
public:
    // The window's stores the summary is derived from.
    struct Sources {
        Status* status = nullptr;
        WorkspaceCatalog* catalog = nullptr;
        RuntimeInventoryStore* inventory = nullptr;
        RuntimeEnablement* enablement = nullptr;
        RuntimeController* runtimes = nullptr;
        AgentServiceHealth* serviceHealth = nullptr;
        WorkforceModel* workforce = nullptr;
    };

    explicit WorkspaceSummaryModel(const Sources& sources, QObject* parent = nullptr);

    const WorkspaceSummary& summary() const { return m_summary; }
    // Derives the summary from the stores as they are now and publishes it.
    void recompute();
    // Publishes `summary` when it differs from the one held (recompute() does
    // this with the stores' state).
    void publish(const WorkspaceSummary& summary);

    // Whether the summary is on screen; the snapshot is written only then.
    bool shown() const { return m_shown; }
    void setShown(bool shown);

signals:
    void changed();

private:
    void schedule();

    QPointer<Status> m_status;
    QPointer<WorkspaceCatalog> m_catalog;
    QPointer<RuntimeInventoryStore> m_inventory;
    QPointer<RuntimeEnablement> m_enablement;
    QPointer<RuntimeController> m_runtimes;
    QPointer<AgentServiceHealth> m_serviceHealth;
    QPointer<WorkforceModel> m_workforce;
    PendingCall* m_pass;
    WorkspaceSummary m_summary;
    bool m_shown = false;
    // The runtime age changes the summary nearly every pass.
    SerialFileWriter m_snapshot;
};
