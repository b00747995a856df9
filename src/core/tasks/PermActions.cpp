#include "core/tasks/PermActions.h"

#include "core/gateway/Status.h"
#include "core/platform/CredentialRedaction.h"
#include "core/platform/Graphemes.h"

namespace {

constexpr int kOutputTail = 240;

} // namespace

PermActions::PermActions(Status* status, Reload reload, QObject* parent)
    : QObject(parent)
    , m_status(status)
{
    if (!reload)
        reload = ActionRunnerBase::reloadShown(status);
    m_runner = new ActionRunner<Key>(std::move(reload), ActionRunnerBase::WhenGone::Stop,
        {
            [this](const Key& k) { emit stateChanged(k.first, k.second); },
            [this](const Key& k) { emit finished(k.first, k.second); },
        },
        this);
    m_runner->holdUntilListed(status, Status::Perms);
}

void PermActions::approve(const CLIConfig& config, const QString& key)
{
    if (!listedFor(config, key))
        return;
    QPointer<Status> status = m_status;
    run(Status::workspaceKey(config), key, QStringLiteral("批准中…"), QStringLiteral("已批准"),
        [status, key, config]() -> QCoro::Task<Result<>> {
            if (!status)
                co_return Failure::tolvarine(-1, QStringLiteral("这个窗口已经关了"));
            const Result<> result = co_await status->confirmPermission(key, true, config);
            co_return result;
        });
}

void PermActions::revoke(const CLIConfig& config, const QString& key, const QString& verb)
{
    if (!listedFor(config, key))
        return;
    QPointer<Status> status = m_status;
    run(Status::workspaceKey(config), key, verb + QStringLiteral("中…"), QStringLiteral("已") + verb,
        [status, key, config]() -> QCoro::Task<Result<>> {
            if (!status)
                co_return Failure::tolvarine(-1, QStringLiteral("这个窗口已经关了"));
            const Result<> result = co_await status->confirmPermission(key, false, config);
            co_return result;
        });
}

void PermActions::grant(const CLIConfig& config, const QString& key)
{
    // The tool replaces this machine's grants with the list it is given: built
    // from a list that failed to load, was emptied meanwhile or belongs to the
    // workspace shown before, it would drop the tiers granted now.
    if (!listedFor(config, key))
        return;
    // The whole desired set: what is granted now, and the new tier.
    const QStringList args = QStringList { QStringLiteral("grant") } + m_status->grantArgs(key);
    std::optional<QString> folder;
    if (config.path && !config.path->isEmpty())
        folder = *config.path;
    const std::chrono::milliseconds limit = m_grantTimeLimit;
    const QString workspace = Status::workspaceKey(config);
    QPointer<Status> status = m_status;
    // The tool only writes this machine's declaration; the tier may still
    // wait for a confirmation, and is called granted only once it is on.
    run(
        workspace, key, QStringLiteral("授权中…"), QStringLiteral("已在本机声明，还差一次批准"),
        [args, folder, config, limit]() -> QCoro::Task<Result<>> {
            auto task = CLI::runAsync(args, folder, config, std::nullopt, limit);
            const CLI::Result ran = co_await std::move(task);
            co_return grantOutcome(ran);
        },
        [status, workspace, key]() -> std::optional<QString> {
            if (!status || !status->permsReadFor(workspace))
                return std::nullopt;
            for (const PermRow& row : status->perms()) {
                if (row.key == key && row.state == PermState::Granted)
                    return QStringLiteral("已授权");
            }
            return std::nullopt;
        });
}

bool PermActions::listedFor(const CLIConfig& config, const QString& key)
{
    const QString workspace = Status::workspaceKey(config);
    if (!m_status || busy(workspace, key))
        return false;
    // A tier's buttons act on the workspace whose list drew them: by the press
    // (or the end of its confirmation) another workspace may be shown.
    if (!m_status->permsReadFor(workspace)) {
        m_runner->set({ workspace, key }, PermActionState::failed(unreadableListText()));
        emit finished(workspace, key);
        return false;
    }
    return true;
}

void PermActions::run(const QString& workspace, const QString& key, const QString& working, const QString& done,
    ActionRunnerBase::Operation operation, ActionRunner<Key>::DoneOnceListed doneOnceListed)
{
    // The tier's buttons are busy until a list read after the action is on
    // show; a second press is not a second action.
    if (busy(workspace, key))
        return;
    m_runner->run({ workspace, key }, working, done, std::move(operation), std::move(doneOnceListed));
}

Result<> PermActions::grantOutcome(const CLI::Result& run)
{
    if (run.failed())
        return Failure::tolvarine(-1, run.error);
    if (run.code == 0)
        return {};
    return Failure::tolvarine(run.code, grantFailureText(run.code, run.out));
}

QString PermActions::unreadableListText()
{
    return QStringLiteral("读不到现在开着哪些档，没动任何东西，等列表回来再试。");
}

QString PermActions::grantFailureText(int code, const QString& output)
{
    // The tool's words are shown as they are, so a token it echoed is masked first.
    const QString trimmed = CredentialRedaction::redact(output).trimmed();
    if (trimmed.isEmpty())
        return QStringLiteral("brenlow grant 退出码 ") + QString::number(code);
    return Graphemes::trailing(trimmed, kOutputTail);
}
