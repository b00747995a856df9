#include "core/shell/WorkspaceSummary.h"

#include "core/gateway/Status.h"
#include "core/platform/TolvarinePaths.h"
#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/workforce/WorkforceSnapshot.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include <QDir>
#include <QJsonDocument>

#include <algorithm>

namespace {

// Each inventory row lands in exactly one of these.
enum class RowClass { uncounted, needsLogin, disabled, serving, running, ready, notReady };

RowClass classify(const RuntimeRow& row, bool enabled, bool serving, bool childRunning)
{
    if (!row.installed)
        return RowClass::uncounted;
    switch (row.usability) {
    case RuntimeUsability::loginRequired:
    case RuntimeUsability::credentialsRequired:
        return RowClass::needsLogin;
    case RuntimeUsability::notInstalled:
    case RuntimeUsability::unsupported:
        return RowClass::uncounted;
    default:
        break;
    }
    if (!enabled)
        return RowClass::disabled;
    if (serving)
        return RowClass::serving;
    if (childRunning)
        return RowClass::running;
    const bool ready = row.usability == RuntimeUsability::ready || row.usability == RuntimeUsability::degraded;
    return ready ? RowClass::ready : RowClass::notReady;
}

// Some running work of this kind names an employee.
bool servesAnEmployee(const QList<RuntimeServing>& entries)
{
    return std::any_of(entries.cbegin(), entries.cend(),
        [](const RuntimeServing& e) { return e.running && e.employeeName.has_value(); });
}

} // namespace

WorkspaceSummary WorkspaceSummary::compute(const Inputs& in, const QDateTime& now)
{
    WorkspaceSummary s;

    s.employeesTotal = in.team.size();
    for (const TeammateBrief& member : in.team) {
        // No facts reads as the placeholder's: no reading.
        const auto facts = in.workforceFacts.constFind(member.id);
        if (facts == in.workforceFacts.constEnd() || !facts->hasReading)
            ++s.employeesNoReading;
        else if (facts->running.isEmpty())
            ++s.employeesIdle;
        else
            ++s.employeesWorking;
    }

    for (const RuntimeRow& row : in.inventoryRows) {
        const bool enabled = in.runtimeEnabled.value(row.kind, true);
        // Without a selected workspace there is no worker to ask about.
        const bool childRunning = in.workspaceID.has_value() && in.runningKinds.contains(row.kind);
        const bool serving = servesAnEmployee(in.runtimeServing.value(row.kind));
        const RowClass cls = classify(row, enabled, serving, childRunning);

        if (row.installed)
            ++s.runtimesInstalled;
        if (row.installed && !enabled)
            ++s.runtimesDisabled;
        if (childRunning)
            ++s.runtimesRunning;
        switch (cls) {
        case RowClass::needsLogin:
            ++s.runtimesNeedingLogin;
            break;
        case RowClass::serving:
        case RowClass::running:
        case RowClass::ready:
            ++s.runtimesConfigured;
            ++s.runtimesUsable;
            break;
        case RowClass::disabled:
            if (row.usability == RuntimeUsability::ready)
                ++s.runtimesConfigured;
            break;
        case RowClass::uncounted:
        case RowClass::notReady:
            break;
        }
    }

    s.pendingApprovals = in.waitingTaskIDs.size();
    s.failedTasks = in.failedFeedItems;
    s.workspaceUnavailable = in.workspaceID.has_value() && !in.workspaceFolderExists;
    s.agentOffline = in.presence.kind != AgentPresence::Kind::Online;
    if (in.presence == AgentPresence::notRead())
        s.runners = Runners::notYetRead;
    else if (in.presence.kind == AgentPresence::Kind::Unknown && !in.presence.runnersRead)
        s.runners = Runners::unreadable;
    s.runtimeInventoryUnreadable = in.inventoryFailed;
    // An inventory that has never finished a refresh is not "loaded and empty".
    s.runtimeInventoryLoaded = !in.inventoryRows.isEmpty() || in.inventoryStamp.has_value();
    s.teamLoaded = in.teamLoadFinished && !in.teamError.has_value();
    if (in.inventoryStamp) {
        // Whole seconds, truncated; a clock stepped back reads as "just now"
        // rather than a negative age (the snapshot's -1 means "never").
        const qint64 age = in.inventoryStamp->msecsTo(now) / 1000;
        s.runtimeAgeSeconds = std::max<qint64>(age, 0);
    }
    s.agentServiceRunning = in.agentServiceRunning;
    return s;
}

WorkspaceSummary::Inputs WorkspaceSummary::Inputs::gather(const Status& status, const WorkspaceCatalog& catalog,
    const RuntimeInventoryStore& inventory, const QMap<QString, bool>& runtimeEnabled,
    const RuntimeController& runtimes, const AgentServiceHealth& serviceHealth, const WorkforceSnapshot& workforce)
{
    Inputs in;
    in.inventoryRows = inventory.rows();
    in.inventoryLoading = inventory.loading();
    in.inventoryStamp = inventory.stamp();
    in.inventoryFailed = inventory.failure().has_value();
    in.runtimeEnabled = runtimeEnabled;

    if (const auto selected = catalog.selected()) {
        in.workspaceID = selected->id();
        in.workspaceFolderExists = selected->localPathExists();
        for (const RuntimeRow& row : std::as_const(in.inventoryRows)) {
            if (runtimes.isRunning(selected->id(), row.kind))
                in.runningKinds.insert(row.kind);
        }
    }

    // The roster the facts were derived from, so the counts match the cards.
    in.team = workforce.team;
    in.teamError = workforce.teamError;
    in.teamLoadFinished = status.teamLoadFinished();
    in.waitingTaskIDs = status.waitingTaskIDs();
    in.failedFeedItems = status.failedFeedItems().size();
    in.presence = status.presence();

    in.workforceFacts = workforce.workforceFacts;
    in.runtimeServing = workforce.runtimeServing;

    in.agentServiceRunning = serviceHealth.running();
    return in;
}

WorkspaceSummary WorkspaceSummary::compute(const Status& status, const WorkspaceCatalog& catalog,
    const RuntimeInventoryStore& inventory, const QMap<QString, bool>& runtimeEnabled,
    const RuntimeController& runtimes, const AgentServiceHealth& serviceHealth, const WorkforceSnapshot& workforce)
{
    return compute(Inputs::gather(status, catalog, inventory, runtimeEnabled, runtimes, serviceHealth, workforce),
        QDateTime::currentDateTime());
}

QJsonObject WorkspaceSummary::toJson() const
{
    return QJsonObject {
        { QStringLiteral("employees_total"), employeesTotal },
        { QStringLiteral("employees_working"), employeesWorking },
        { QStringLiteral("employees_idle"), employeesIdle },
        { QStringLiteral("employees_no_reading"), employeesNoReading },
        { QStringLiteral("runtimes_installed"), runtimesInstalled },
        { QStringLiteral("runtimes_configured"), runtimesConfigured },
        { QStringLiteral("runtimes_usable"), runtimesUsable },
        { QStringLiteral("runtimes_running"), runtimesRunning },
        { QStringLiteral("runtimes_disabled"), runtimesDisabled },
        { QStringLiteral("pending_approvals"), pendingApprovals },
        { QStringLiteral("failed_tasks"), failedTasks },
        { QStringLiteral("runtimes_needing_login"), runtimesNeedingLogin },
        { QStringLiteral("workspace_unavailable"), workspaceUnavailable },
        { QStringLiteral("agent_offline"), agentOffline },
        { QStringLiteral("runtime_inventory_loaded"), runtimeInventoryLoaded },
        { QStringLiteral("team_loaded"), teamLoaded },
        { QStringLiteral("runtime_age_seconds"), runtimeAgeSeconds.value_or(-1) },
        { QStringLiteral("agent_service_running"), agentServiceRunning.value_or(false) },
        { QStringLiteral("agent_service_known"), agentServiceRunning.has_value() },
    };
}

QString WorkspaceSummary::snapshotPath()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop_summary.json"));
}

QByteArray WorkspaceSummary::snapshotBytes() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
}
