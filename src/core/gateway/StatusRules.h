#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"
#include "core/gateway/Replies.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Pure derivations of the status model over the values it last loaded.
namespace rules {

// The presence of this computer's runner among the runners that were read.
AgentPresence presence(const QList<RunnerInfo>& runners, const QString& deviceId);

// The command whose progress the window follows: the last claimed command,
// else the last finished one (done, failed, unsupported); none otherwise.
std::optional<CommandBrief> focalCommand(const QList<CommandBrief>& commands);

// Everything the runtime state reads.
struct RuntimeInputs {
    std::optional<QString> commandsError;
    QList<CommandBrief> commands;
    std::optional<CLIConfig> config;
    QStringList pendingPerms;
    QMap<QString, QString> autoFailed;
    AgentPresence presence;
    QList<TeammateBrief> team;
};
RuntimeState runtimeState(const RuntimeInputs& in);

// What keeps a queued command from being picked up by its assignee, if anything.
std::optional<QString> blockedByAssignee(const CommandBrief& command, const QList<TeammateBrief>& team);

// The three values the feed gives the views.
struct FeedView {
    QList<FeedApprovalItem> pendingApprovalItems;
    QList<FeedApprovalItem> failedFeedItems;
    QSet<QString> waitingTaskIDs;
};
// Read from the feed's reply without holding all its items at once: only the
// ones the views show are kept.
Result<FeedView> readFeed(const QByteArray& body);

// Runtimes per device, each once, in reply order; entries without a device
// or a runtime are skipped.
QMap<QString, QStringList> deviceRuntimes(const QList<replies::AgentEntry>& agents);

} // namespace rules
