#include "core/shell/WorkspaceSummaryModel.h"

#include "core/gateway/Status.h"
#include "core/platform/PendingCall.h"
#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/workforce/WorkforceModel.h"
#include "core/workspaces/WorkspaceCatalog.h"

WorkspaceSummaryModel::WorkspaceSummaryModel(const Sources& sources, QObject* parent)
    : QObject(parent)
    , m_status(sources.status)
    , m_catalog(sources.catalog)
    , m_inventory(sources.inventory)
    , m_enablement(sources.enablement)
    , m_runtimes(sources.runtimes)
    , m_serviceHealth(sources.serviceHealth)
    , m_workforce(sources.workforce)
    // Several stores often publish in one go: one pass derives from all of them.
    , m_pass(new PendingCall(this, [this] { recompute(); }))
    , m_snapshot(WorkspaceSummary::snapshotPath())
{
    connect(m_status, &Status::changed, this, &WorkspaceSummaryModel::schedule);
    connect(m_catalog, &WorkspaceCatalog::recordsChanged, this, &WorkspaceSummaryModel::schedule);
    connect(m_catalog, &WorkspaceCatalog::selectionChanged, this, &WorkspaceSummaryModel::schedule);
    connect(m_inventory, &RuntimeInventoryStore::changed, this, &WorkspaceSummaryModel::schedule);
    connect(m_enablement, &RuntimeEnablement::changed, this, &WorkspaceSummaryModel::schedule);
    connect(m_runtimes, &RuntimeController::workersChanged, this, &WorkspaceSummaryModel::schedule);
    connect(m_serviceHealth, &AgentServiceHealth::changed, this, &WorkspaceSummaryModel::schedule);
    connect(m_workforce, &WorkforceModel::changed, this, &WorkspaceSummaryModel::schedule);
    recompute();
}

void WorkspaceSummaryModel::schedule()
{
    m_pass->request();
}

void WorkspaceSummaryModel::recompute()
{
    m_pass->cancel();
    if (!m_status || !m_catalog || !m_inventory || !m_enablement || !m_runtimes || !m_serviceHealth || !m_workforce)
        return;
    publish(WorkspaceSummary::compute(*m_status, *m_catalog, *m_inventory, m_enablement->enabled(), *m_runtimes,
        *m_serviceHealth, m_workforce->snapshot()));
}

void WorkspaceSummaryModel::publish(const WorkspaceSummary& summary)
{
    if (summary == m_summary)
        return;
    m_summary = summary;
    if (m_shown)
        m_snapshot.write(m_summary.snapshotBytes());
    emit changed();
}

void WorkspaceSummaryModel::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    // Each time the summary appears the snapshot is brought up to date.
    if (m_shown)
        m_snapshot.write(m_summary.snapshotBytes());
}
