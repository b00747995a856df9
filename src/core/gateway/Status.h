#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Failure.h"
#include "core/gateway/GatewayClient.h"
#include "core/gateway/Records.h"
#include "core/gateway/Replies.h"
#include "core/gateway/StatusRules.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <array>
#include <functional>
#include <optional>
#include <vector>

// The one observable model of the paired workspace shown in a window: the
// configuration in use, everything read from the workspace gateway, one error
// text per loader, and the actions that change gateway state. Lives on the
// GUI thread; views connect to the change signals and read the getters.
//
// Loaders never fail: each publishes its data or its error text. A loader
// publishes only while the configuration it loaded is still the published
// one, so a slow reload of a workspace the user has left never overwrites
// the workspace now shown, and only while no load of its kind has started
// since (every reload starts one of each kind, automatic confirmation starts
// a permission load of its own): when a reload overlaps an older one of the
// same workspace, the older one's answers, read before an action the newer
// one sees, are dropped whenever they arrive.
class Status : public QObject {
    Q_OBJECT
public:
    // The kinds of load; the latest-started load of each kind is the only one that publishes.
    enum Load { Commands, Progress, Perms, Team, Agents, Feed, LoadKinds };

    explicit Status(QObject* parent = nullptr);
    ~Status() override;

    // --- published state -------------------------------------------------
    const std::optional<CLIConfig>& config() const { return m_config; }
    const AgentPresence& presence() const { return m_presence; }

    const QList<PermRow>& perms() const { return m_perms; }
    const std::optional<QString>& permsError() const { return m_permsError; }
    const QStringList& pendingPerms() const { return m_pendingPerms; }
    // The automatic confirmations of the workspace shown (each workspace keeps its own).
    const QMap<QString, QDateTime>& autoConfirmed() const { return shownAuto().confirmed; }
    const QMap<QString, QString>& autoFailed() const { return shownAuto().failed; }

    const std::optional<QString>& lastError() const { return m_lastError; }
    // Both describe the origin found for the shown configuration's address;
    // none while it is not known or when no origin answers.
    const std::optional<QString>& endpointNote() const { return m_endpointNote; }
    const std::optional<QString>& reachableEndpoint() const { return m_reachableEndpoint; }

    const QList<CommandBrief>& commands() const { return m_commands; }
    const std::optional<QString>& commandsError() const { return m_commandsError; }
    const QList<RunnerInfo>& runners() const { return m_runners; }

    const QList<TeammateBrief>& team() const { return m_team; }
    const std::optional<QString>& teamError() const { return m_teamError; }
    // A roster load has finished (with or without an error); false before the first.
    bool teamLoadFinished() const { return m_teamLoadFinished; }
    const QMap<QString, QStringList>& deviceRuntimes() const { return m_deviceRuntimes; }
    const std::optional<QString>& agentsError() const { return m_agentsError; }

    const QSet<QString>& waitingTaskIDs() const { return m_waitingTaskIDs; }
    const QList<FeedApprovalItem>& pendingApprovalItems() const { return m_pendingApprovalItems; }
    const QList<FeedApprovalItem>& failedFeedItems() const { return m_failedFeedItems; }
    // The configuration the feed lists above were loaded with, none while they
    // hold nothing loaded: an action on one of their items goes with it, also
    // when another workspace is selected (or shown) by now.
    const std::optional<CLIConfig>& feedConfig() const { return m_feedConfig; }
    // Why the latest feed load of the workspace shown read nothing; none once
    // one has read it. Such a load publishes nothing: the lists above stay as
    // last read, and only the sheets say why (feedErrorChanged).
    const std::optional<QString>& feedError() const { return m_feedError; }

    const QList<ProgressLine>& progress() const { return m_progress; }
    const std::optional<QString>& progressError() const { return m_progressError; }
    bool progressTruncated() const { return m_progressTruncated; }
    const std::optional<QString>& progressOf() const { return m_progressOf; }

    // --- derived values ----------------------------------------------------
    std::optional<CommandBrief> focalCommand() const;
    RuntimeState runtimeState() const;
    QStringList grantArgs(const QString& adding) const;
    // Whether the tiers published are a good read of that workspace (by
    // `workspaceKey`) and it is the one shown now: not an empty list, not one
    // whose load failed, not the list of the workspace shown before a switch.
    bool permsReadFor(const QString& workspace) const;
    PermUse usage(const QString& key) const;

    // --- reload and actions ----------------------------------------------
    // Reloads everything for `config`, or for the pairing files' configuration when none.
    QCoro::Task<> reload(std::optional<CLIConfig> config = std::nullopt);
    // Approves or rejects a tier with the configuration it was listed under, taken at the press.
    QCoro::Task<Result<>> confirmPermission(QString key, bool approve, std::optional<CLIConfig> config);
    QCoro::Task<Result<>> act(QString feedID, QString action, QString note, std::optional<CLIConfig> config);
    QCoro::Task<Result<>> retryCommand(QString id, std::optional<CLIConfig> config);
    QCoro::Task<Result<>> deleteCommand(QString id, std::optional<CLIConfig> config);

    GatewayClient* client() const { return m_client; }

    // A stamp of the loads started so far: a load started after this call has a greater one.
    quint64 loadsStarted() const { return m_loads; }
    // Whether the list of `kind` on show now was read by a load started after
    // `mark` (a value of loadsStarted()).
    bool publishedSince(Load kind, quint64 mark) const { return m_published[kind] > mark; }
    // Calls `then` once a list of `kind` read by a load started after `mark`
    // is published, whichever reload reads it (at once when one is on show).
    // An overtaken reload publishes nothing; the one that overtook it does. A
    // feed load that fails publishes nothing either. Dropped uncalled when
    // `context` goes, or when the model does.
    void whenPublished(Load kind, quint64 mark, QObject* context, std::function<void()> then);
    // The same, awaited: returns once such a list is on show, or once the model is gone.
    QCoro::Task<> publishedAfter(Load kind, quint64 mark);

    // Tells workspaces apart: the gateway's address and the workspace's id.
    static QString workspaceKey(const CLIConfig& config);

signals:
    // One signal per group of published properties, and `changed` after any of them.
    void configChanged();
    void presenceChanged();
    void commandsChanged(); // commands, commandsError, runners, lastError
    void progressChanged(); // progress, progressError, progressTruncated, progressOf
    void permsChanged(); // perms, permsError, pendingPerms, autoConfirmed, autoFailed
    void teamChanged(); // team, teamError, teamLoadFinished
    void agentsChanged(); // deviceRuntimes, agentsError
    void feedChanged(); // waitingTaskIDs, pendingApprovalItems, failedFeedItems
    void feedErrorChanged(); // feedError alone: not a publication, `changed` does not follow
    void endpointChanged(); // reachableEndpoint, endpointNote
    void changed();

private:
    // Outcomes of automatic confirmation in one workspace.
    struct AutoConfirmation {
        QMap<QString, QDateTime> confirmed;
        QMap<QString, QString> failed;
        // The tiers tried during their present pending spell.
        QSet<QString> tried;
    };

    bool isCurrent(const CLIConfig& config) const { return m_config && *m_config == config; }
    bool isLatest(Load kind, quint64 generation, const CLIConfig& config) const
    {
        return m_latest[kind] == generation && isCurrent(config);
    }
    // A new generation for every kind (a reload), or for one kind.
    quint64 startReload();
    quint64 startLoad(Load kind);
    const AutoConfirmation& shownAuto() const;

    // None when the list was not published (a newer load, another workspace).
    QCoro::Task<std::optional<QList<CommandBrief>>> loadCommands(CLIConfig config, quint64 generation);
    QCoro::Task<> loadProgress(CLIConfig config, quint64 generation, QList<CommandBrief> loaded);
    QCoro::Task<> loadPerms(CLIConfig config, quint64 generation, bool allowAuto);
    QCoro::Task<> autoConfirm(CLIConfig config, QStringList pending);
    QCoro::Task<> loadTeam(CLIConfig config, quint64 generation);
    QCoro::Task<> loadAgents(CLIConfig config, quint64 generation);
    QCoro::Task<> loadFeed(CLIConfig config, quint64 generation);
    QCoro::Task<Result<>> confirm(CLIConfig config, QString key, bool approve);
    QCoro::Task<Result<>> postAction(
        std::optional<CLIConfig> config, QString id, std::optional<QString> path, QJsonObject body);

    // Empties every list but the feed's (which keeps its own configuration), with their error texts.
    void dropLists();
    void emitGroup(void (Status::*signal)());
    // Records that a load of `kind` has published its list, and calls the waiters it satisfies.
    void markPublished(Load kind, quint64 generation);
    void onResolved(const CLIConfig& config, const std::optional<QString>& origin);
    void setEndpoint(const QString& api, const std::optional<QString>& origin);

    GatewayClient* m_client;

    std::optional<CLIConfig> m_config;
    // The workspace (by workspaceKey) the lists held were read from; none before the first.
    std::optional<QString> m_listsOf;
    AgentPresence m_presence = AgentPresence::notRead();
    QList<PermRow> m_perms;
    std::optional<QString> m_permsError;
    QStringList m_pendingPerms;
    // The workspace (by workspaceKey) the tiers were read for; none while they are not a good read.
    std::optional<QString> m_permsOf;
    QHash<QString, AutoConfirmation> m_auto; // by workspaceKey
    quint64 m_loads = 0;
    std::array<quint64, LoadKinds> m_latest {};
    // The generation of the load whose list of each kind is on show.
    std::array<quint64, LoadKinds> m_published {};
    struct Waiter {
        Load kind;
        quint64 mark;
        QPointer<QObject> context;
        std::function<void()> then;
    };
    std::vector<Waiter> m_waiters;
    std::optional<QString> m_lastError;
    std::optional<QString> m_endpointNote;
    std::optional<QString> m_reachableEndpoint;
    QList<CommandBrief> m_commands;
    // The last command list read, and from where (origin and path): a poll
    // that brings the same list back takes its records as they are.
    QString m_readCommandsFrom;
    replies::CommandsReading m_readCommands;
    // The other replies as last read: the same bytes are not decoded again.
    // Every reply is decoded off the GUI thread (each can be large).
    replies::ReplyMemo<replies::Progress> m_progressMemo;
    replies::ReplyMemo<replies::Permissions> m_permsMemo;
    replies::ReplyMemo<QList<TeammateBrief>> m_teamMemo;
    replies::ReplyMemo<QList<replies::AgentEntry>> m_agentsMemo;
    replies::ReplyMemo<rules::FeedView> m_feedMemo;
    std::optional<QString> m_commandsError;
    QList<RunnerInfo> m_runners;
    QList<TeammateBrief> m_team;
    std::optional<QString> m_teamError;
    bool m_teamLoadFinished = false;
    QMap<QString, QStringList> m_deviceRuntimes;
    QSet<QString> m_waitingTaskIDs;
    QList<FeedApprovalItem> m_pendingApprovalItems;
    QList<FeedApprovalItem> m_failedFeedItems;
    std::optional<CLIConfig> m_feedConfig;
    std::optional<QString> m_feedError;
    std::optional<QString> m_agentsError;
    QList<ProgressLine> m_progress;
    std::optional<QString> m_progressError;
    bool m_progressTruncated = false;
    std::optional<QString> m_progressOf;
};
