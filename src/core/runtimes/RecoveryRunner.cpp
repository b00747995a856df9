#include "core/runtimes/RecoveryRunner.h"

#include "core/workspaces/Relocation.h"

#include "core/gateway/CLIAsync.h"
#include "core/gateway/Json.h"
#include "core/platform/CredentialRedaction.h"
#include "core/platform/DisplayText.h"
#include "core/platform/Graphemes.h"
#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/DaemonStatus.h"
#include "core/runtimes/RuntimeInventory.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QPointer>

#include <algorithm>

namespace {

const QString kWorkspace = QStringLiteral("recovery.step.workspace");
const QString kRelocate = QStringLiteral("recovery.step.relocate");
const QString kService = QStringLiteral("recovery.step.service");
const QString kRuntimes = QStringLiteral("recovery.step.runtimes");
const QString kReconnect = QStringLiteral("recovery.step.reconnect");
const QString kRefresh = QStringLiteral("recovery.step.refresh");

} // namespace

RecoveryRunner::RecoveryRunner(QObject* parent)
    : QObject(parent)
{
}

QList<RecoveryRunner::Step> RecoveryRunner::needsYou() const
{
    QList<Step> out;
    for (const Step& s : m_steps) {
        if (s.state == State::NeedsYou)
            out.append(s);
    }
    return out;
}

QList<RecoveryRunner::Step> RecoveryRunner::failures() const
{
    QList<Step> out;
    for (const Step& s : m_steps) {
        if (s.state == State::Failed)
            out.append(s);
    }
    return out;
}

void RecoveryRunner::set(const QString& id, State state, const QString& detail, const QString& action)
{
    for (Step& s : m_steps) {
        if (s.id != id)
            continue;
        s.state = state;
        s.detail = detail;
        if (!action.isEmpty())
            s.action = action;
        emit changed();
        return;
    }
}

QCoro::Task<> RecoveryRunner::run(std::optional<CLIConfig> workspace, std::function<void()> reloadInventory,
    std::function<QCoro::Task<Reading>()> reloadStatus)
{
    if (m_running)
        co_return;
    QPointer<RecoveryRunner> self(this);
    m_running = true;
    m_finished = false;
    m_steps = {
        { kWorkspace, QStringLiteral("工作区目录") },
        { kRelocate, QStringLiteral("找回工作区") },
        { kService, QStringLiteral("Agent Service") },
        { kRuntimes, QStringLiteral("Runtime 探测与健康") },
        { kReconnect, QStringLiteral("重新连上网关") },
        { kRefresh, QStringLiteral("员工与任务") },
    };
    emit changed();

    if (!workspace) {
        set(kWorkspace, State::NeedsYou, QStringLiteral("这台电脑上还没有工作区"),
            QStringLiteral("在项目目录里跑一次 brenlow pair，或者用上面的 ＋ 号选一个目录"));
        for (const QString& id : { kRelocate, kService, kRuntimes, kReconnect, kRefresh })
            set(id, State::Ok, QStringLiteral("跳过 —— 还没有工作区"));
        m_running = false;
        m_finished = true;
        emit changed();
        co_return;
    }

    // Step 1: is the folder still where it was paired?
    set(kWorkspace, State::Running);
    const QString path = workspace->path.value_or(QString());
    const QString shownPath = path.isEmpty() ? QStringLiteral("—") : path;
    const bool folderExists = !path.isEmpty() && QFileInfo(path).isDir();
    if (folderExists) {
        set(kWorkspace, State::Ok, shownPath);
        set(kRelocate, State::Ok, QStringLiteral("不用找 —— 目录就在原地"));
    } else {
        set(kWorkspace, State::NeedsYou, QStringLiteral("原来的位置不在了：") + shownPath,
            QStringLiteral("下面这一步会去找它"));
        // Step 2: where did it go? Binding is left to the user in the banner.
        set(kRelocate, State::Running);
        // The tool's dry-run relocation, stopped when the runner goes first.
        auto discoverTask = Relocation::discover(workspace->workspace, kToolTimeLimit, this);
        const Relocation::Discovery found = co_await std::move(discoverTask);
        if (!self)
            co_return;
        if (found.ok && !found.path.isEmpty()) {
            set(kRelocate, State::NeedsYou, QStringLiteral("找到一个匹配的目录：") + DisplayText::name(found.path),
                QStringLiteral(
                    "回到上面那张横幅点「就是它，恢复」——绑错目录会让 AI 员工去改另一个项目的代码，这一下不能替你按"));
        } else if (found.candidates.size() >= 2) {
            set(kRelocate, State::NeedsYou, QStringLiteral("找到 %1 个可能的位置").arg(found.candidates.size()),
                QStringLiteral("回到上面那张横幅，从列表里挑一个"));
        } else {
            // Searched in vain or could not search at all (a tool too old, a
            // run cut at its time limit): the tool's own words tell which.
            const QString said = Graphemes::leading(CredentialRedaction::redact(found.error).simplified(), 200);
            set(kRelocate, State::NeedsYou,
                said.isEmpty() ? QStringLiteral("自己没找着") : QStringLiteral("自己没找着 · brenlow 说：") + said,
                QStringLiteral("点「重新定位工作区」手动指一次"));
        }
    }

    // Step 3: the agent service, installed when it is missing and there is a folder to serve.
    set(kService, State::Running);
    auto probeTask = AgentServiceHealth::probe(m_timeLimit, this);
    const DaemonStatus::Result status = co_await std::move(probeTask);
    if (!self)
        co_return;
    if (!status.ok()) {
        // A missing tool cannot be asked anything: it has to be installed first.
        set(kService, State::Failed, status.failure,
            status.toolMissing
                ? QStringLiteral("这台机器上没有 brenlow：在终端里跑一次 ") + CLI::NotFound::installCommand()
                    + QStringLiteral(" 装上它，再点一次「检查并恢复」")
                : QStringLiteral(
                    "这台机器上的 brenlow 太旧或答不上话：跑一次 `brenlow daemon status --json` 看它说什么"));
    } else if (status.report->state == QLatin1String("running")) {
        set(kService, State::Ok, status.report->display());
    } else if (status.report->state == QLatin1String("installed_state_unknown")) {
        const QString log = status.report->log.value_or(QString());
        set(kService, State::NeedsYou, status.report->display(),
            QStringLiteral("这台机器答不出常驻在不在跑，自己去看一眼日志：")
                + (log.isEmpty() ? QStringLiteral("（它没说日志在哪）") : log));
    } else if (folderExists) {
        auto installTask = CLIAsync::run({ QStringLiteral("daemon"), QStringLiteral("install") }, m_timeLimit, this);
        const CLI::Result install = co_await std::move(installTask);
        if (!self)
            co_return;
        // An install that ended well may still warn of a step it could not
        // take (the service put in place but not started): that is said in
        // the tool's words, not called running.
        QStringList warned;
        for (const QString& line : install.out.split(QLatin1Char('\n'))) {
            if (CLI::isWarning(line.trimmed()))
                warned.append(line.trimmed());
        }
        if (install.code == 0 && warned.isEmpty())
            set(kService, State::Ok, QStringLiteral("刚刚起起来了"));
        else if (install.code == 0)
            set(kService, State::NeedsYou,
                QStringLiteral("装上了，但 brenlow 说：")
                    + Graphemes::leading(CredentialRedaction::redact(warned.join(QStringLiteral("；"))), 200),
                QStringLiteral("照它说的补上这一步，再点一次「检查并恢复」"));
        else
            set(kService, State::Failed, DaemonStatus::shownLine(install.out));
    } else {
        set(kService, State::NeedsYou, QStringLiteral("没在跑，而且现在装不了"),
            QStringLiteral("先把工作区目录找回来，这一步才有地方落脚"));
    }

    // Step 4: the local runtimes and which of them need the user.
    set(kRuntimes, State::Running);
    auto runtimesTask = CLIAsync::run({ QStringLiteral("runtimes"), QStringLiteral("--json") }, m_timeLimit, this);
    const CLI::Result runtimes = co_await std::move(runtimesTask);
    if (!self)
        co_return;
    const std::optional<RuntimeInventory> inventory
        = runtimes.code == 0 ? RuntimeInventory::decode(runtimes.out.toUtf8()) : std::nullopt;
    if (inventory) {
        if (reloadInventory)
            reloadInventory();
        int installed = 0;
        QStringList needing;
        for (const RuntimeEntry& e : inventory->runtimes) {
            if (e.health.installed)
                ++installed;
            if (e.usability == QLatin1String("login_required") || e.usability == QLatin1String("credentials_required"))
                needing.append(e.display);
        }
        if (needing.isEmpty()) {
            set(kRuntimes, State::Ok, QStringLiteral("%1 家已装，都不缺登录").arg(installed));
        } else {
            QString action = needing.mid(0, 4).join(QStringLiteral("、"));
            if (needing.size() > 4)
                action += QStringLiteral(" 等");
            action += QStringLiteral(" —— 在 Runtime 那一屏各自有入口");
            set(kRuntimes, State::NeedsYou,
                QStringLiteral("%1 家已装，其中 %2 家要你登录或配一把 Key").arg(installed).arg(needing.size()), action);
        }
    } else {
        const QString line = DaemonStatus::shownLine(runtimes.out);
        set(kRuntimes, State::Failed, line.isEmpty() ? QStringLiteral("问不到这台机器") : line);
    }

    // Step 5: ask the gateway again. Each of the last two steps is done only
    // when what the window shows now was read, and is this workspace's: a
    // load that failed is this step's failure, in the load's own words.
    set(kReconnect, State::Running);
    Reading read;
    if (reloadStatus) {
        auto reload = reloadStatus();
        read = co_await std::move(reload);
        if (!self)
            co_return;
    }
    // Another workspace's lists say nothing of this one's.
    const QString again = QStringLiteral("切回「%1」，再点一次「检查并恢复」").arg(workspace->displayName());
    if (read.elsewhere)
        set(kReconnect, State::NeedsYou, QStringLiteral("窗口已经换到了另一个工作区，没读到这个工作区的网关"), again);
    else if (read.commands)
        set(kReconnect, State::Failed, *read.commands);
    else
        set(kReconnect, State::Ok, QStringLiteral("已经重问过一遍网关"));

    // Step 6: the employees and tasks on screen.
    set(kRefresh, State::Running);
    if (read.elsewhere)
        set(kRefresh, State::NeedsYou, QStringLiteral("窗口已经换到了另一个工作区，屏幕上的员工与任务不是这个工作区的"),
            again);
    else if (const std::optional<QString> unread = read.commands ? read.commands : read.team)
        set(kRefresh, State::Failed, *unread);
    else
        set(kRefresh, State::Ok, QStringLiteral("屏幕上的数字已经是这一刻的"));

    m_running = false;
    m_finished = true;
    emit changed();
}
