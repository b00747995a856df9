#pragma once

#include "core/workforce/WorkforceSnapshot.h"

#include <QObject>
#include <QPointer>

#include <optional>

class PendingCall;
class RuntimeInventoryStore;
class Status;

// The workforce views' one derivation: whenever the status model publishes
// the roster, the commands, the agents, the feed or its configuration, or the
// runtime inventory changes, the snapshot is derived again, once for all the
// groups published in one turn of the event loop, and shared by every reader
// (the team and collaboration sections, the summary bar). A reader that
// comes before the coalesced pass gets the fresh snapshot at once; the pass
// then announces it. `changed` is emitted only when the snapshot differs
// from the one announced before. Lives on the GUI thread.
class WorkforceModel : public QObject {
    Q_OBJECT
public:
    WorkforceModel(Status* status, RuntimeInventoryStore* inventory, QObject* parent = nullptr);

    const WorkforceSnapshot& snapshot() const;

    // How many times the snapshot has been derived (for tests and benchmarks).
    quint64 derivations() const { return m_derivations; }

signals:
    void changed();

private:
    void invalidate();
    void ensure() const;
    void publish();

    QPointer<Status> m_status;
    QPointer<RuntimeInventoryStore> m_inventory;
    PendingCall* m_pass;
    mutable WorkforceSnapshot m_snapshot;
    // What the snapshot was derived from.
    mutable std::optional<WorkforceSnapshot::Inputs> m_inputs;
    mutable bool m_dirty = true;
    mutable quint64 m_derivations = 0;
    // The snapshot announced last, to tell whether a pass changed anything.
    WorkforceSnapshot m_announced;
};
