#include "core/workforce/WorkforceModel.h"

#include "core/gateway/Status.h"
#include "core/runtimes/RuntimeInventoryStore.h"

#include "core/platform/PendingCall.h"

WorkforceModel::WorkforceModel(Status* status, RuntimeInventoryStore* inventory, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_inventory(inventory)
    , m_pass(new PendingCall(this, [this] { publish(); }))
{
    // Progress lines and permissions take no part in the snapshot.
    for (auto signal : { &Status::configChanged, &Status::commandsChanged, &Status::teamChanged, &Status::agentsChanged,
             &Status::feedChanged })
        connect(status, signal, this, &WorkforceModel::invalidate);
    if (inventory)
        connect(inventory, &RuntimeInventoryStore::changed, this, &WorkforceModel::invalidate);
}

const WorkforceSnapshot& WorkforceModel::snapshot() const
{
    ensure();
    return m_snapshot;
}

void WorkforceModel::invalidate()
{
    m_dirty = true;
    m_pass->request();
}

void WorkforceModel::ensure() const
{
    if (!m_dirty)
        return;
    m_dirty = false;
    if (!m_status) {
        m_snapshot = {};
        m_inputs.reset();
        return;
    }
    const QList<RuntimeRow> rows = m_inventory ? m_inventory->rows() : QList<RuntimeRow>();
    WorkforceSnapshot::Inputs in = WorkforceSnapshot::Inputs::gather(*m_status, rows);
    // The same inputs give the same snapshot: a publication that changed
    // nothing the derivation reads (a reload of an unchanged workspace)
    // derives nothing.
    if (m_inputs && *m_inputs == in)
        return;
    m_snapshot = WorkforceSnapshot::derive(in);
    m_inputs = std::move(in);
    ++m_derivations;
}

void WorkforceModel::publish()
{
    ensure();
    if (m_snapshot == m_announced)
        return;
    m_announced = m_snapshot;
    emit changed();
}
