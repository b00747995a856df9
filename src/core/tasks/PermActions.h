#pragma once

#include "core/gateway/CLI.h"
#include "core/gateway/CLIConfig.h"
#include "core/gateway/Failure.h"
#include "core/tasks/ActionRunner.h"
#include "core/tasks/PermActionState.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

class Status;

// The actions on the workspaces' permission tiers and the feedback of the
// last one on each tier of each workspace. Every action shows "working" at
// once, then runs its operation, records the outcome (ok with the moment, or
// the failure text) and reloads the status model once, whatever the outcome
// (the reload the owner gives: the workspace selected at that moment); an
// action whose owner is gone meanwhile ends there.
// An action takes the tier and the configuration its list was read with
// together at the press and carries both through any confirmation; feedback
// and busy state belong to that workspace (`Status::workspaceKey`), so a
// switch shows the other workspace's own. Confirming the irreversible tier
// is the view's business; these only act.
class PermActions : public QObject {
    Q_OBJECT
public:
    // `reload` is the reload after each action; by default the status model's
    // reload of the configuration it shows.
    using Reload = std::function<QCoro::Task<>()>;
    PermActions(Status* status, Reload reload = {}, QObject* parent = nullptr);

    // Idle for a tier nothing was done to in that workspace.
    PermActionState state(const QString& workspace, const QString& key) const
    {
        return m_runner->state({ workspace, key });
    }
    // Acted on and not yet listed afresh: its buttons take no second press.
    bool busy(const QString& workspace, const QString& key) const { return m_runner->busy({ workspace, key }); }

    // `config`: the one the pressed row's list was read with. Each action runs
    // only while the status model's tiers are still a good read of that
    // workspace; otherwise nothing is sent and the tier's line (kept with that
    // workspace) says so.
    // Confirms a tier through the gateway.
    void approve(const CLIConfig& config, const QString& key);
    // Takes a granted tier back ("收回") or turns a pending one down ("拒绝").
    void revoke(const CLIConfig& config, const QString& key, const QString& verb);
    // Runs `brenlow grant` with every tier granted plus `key`, in
    // catalogue order, in the workspace folder, off the GUI thread and within
    // the time limit. The tool takes the list as the whole set, so nothing
    // runs unless the tiers listed now are a good read of that workspace.
    // Its success reads "declared" until the tier is listed as on.
    void grant(const CLIConfig& config, const QString& key);

    void setGrantTimeLimit(std::chrono::milliseconds limit) { m_grantTimeLimit = limit; }

    // What a finished grant run amounts to: success on exit 0; otherwise the
    // run's own error (tool missing, could not start, time limit) or the tail
    // of the tool's output.
    static Result<> grantOutcome(const CLI::Result& run);
    // The last 240 characters of the trimmed output (secrets masked), or
    // "brenlow grant 退出码 N" when the tool said nothing.
    static QString grantFailureText(int code, const QString& output);
    // What an action that did not run because the tiers were unreadable says.
    static QString unreadableListText();

signals:
    void stateChanged(const QString& workspace, const QString& key);
    // When an action has ended: after the reload that follows it and, on
    // success, once a list read after it is on show; or at once
    // when it did not run.
    void finished(const QString& workspace, const QString& key);

private:
    using Key = std::pair<QString, QString>; // workspace, tier
    // False, with the tier's line saying why, when nothing may run now.
    bool listedFor(const CLIConfig& config, const QString& key);
    void run(const QString& workspace, const QString& key, const QString& working, const QString& done,
        ActionRunnerBase::Operation operation, ActionRunner<Key>::DoneOnceListed doneOnceListed = {});

    QPointer<Status> m_status;
    ActionRunner<Key>* m_runner = nullptr;
    std::chrono::milliseconds m_grantTimeLimit { std::chrono::seconds(60) };
};
