#include "core/shell/WindowController.h"

#include "core/agents/AdvancedAccess.h"
#include "core/gateway/CLI.h"
#include "core/gateway/Status.h"
#include "core/platform/CredentialRedaction.h"
#include "core/platform/Graphemes.h"
#include "core/platform/LoopPause.h"
#include "core/platform/OffMainThread.h"
#include "core/runtimes/AgentServiceHealth.h"
#include "core/runtimes/RecoveryRunner.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/runtimes/RuntimeSectionModel.h"
#include "core/shell/StoredFileCheck.h"
#include "core/shell/WorkspaceSummaryModel.h"
#include "core/workforce/WorkforceModel.h"
#include "core/workspaces/RelocationState.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include <QPointer>

namespace {

QString pairFailed(const QString& output)
{
    // The tool's words are shown as they are, so a token it echoed is masked first.
    return QStringLiteral("配对失败：") + Graphemes::trailing(CredentialRedaction::redact(output), 200);
}

// What a pairing that ended well did not do, in the tool's own words with what
// to do about it; empty when it reported nothing left undone. The tool says
// so on a "warning:" line, also when it paired the folder on this machine
// alone because the gateway did not answer.
QString pairWarning(const QString& output)
{
    QStringList said;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        const QString text = line.trimmed();
        if (CLI::isWarning(text))
            said.append(text);
    }
    if (said.isEmpty())
        return QString();
    const QString words = Graphemes::leading(CredentialRedaction::redact(said.join(QLatin1Char('\n'))), 400);
    return QStringLiteral("工作区已加入，但有一步没做成。brenlow 说：") + words
        + QStringLiteral("\n照它说的补上这一步，或者再用上面的 ＋ 号选这个目录配对一次。");
}

// The selection as it is now: the user may have switched while recovering.
QCoro::Task<> reloadIfAlive(QPointer<WindowController> controller)
{
    if (controller)
        co_await controller->reloadSelected();
}

// Recovery's reload, and what the window shows once it is in. A reload
// overtaken by a newer one (the poll) publishes nothing: its reading is the
// newer one's, once that is in. The run reads only the workspace it was
// started for: with another one shown, before or after the reload, nothing is read.
QCoro::Task<RecoveryRunner::Reading> reloadAndRead(QPointer<WindowController> controller, QString workspace)
{
    const auto elsewhere = [&] {
        const std::optional<CLIConfig> shown = controller->selectedConfig();
        return !shown || shown->workspace != workspace;
    };
    if (!controller)
        co_return RecoveryRunner::Reading {};
    if (elsewhere())
        co_return RecoveryRunner::Reading { {}, {}, true };
    QPointer<Status> status = controller->status();
    const quint64 mark = status->loadsStarted();
    auto reload = controller->reloadSelected();
    co_await std::move(reload);
    if (status) {
        auto commands = status->publishedAfter(Status::Commands, mark);
        co_await std::move(commands);
    }
    // The roster follows the command list in the same reload, unless that list failed.
    if (status && !status->commandsError()) {
        auto team = status->publishedAfter(Status::Team, mark);
        co_await std::move(team);
    }
    if (!status || !controller)
        co_return RecoveryRunner::Reading {};
    if (elsewhere())
        co_return RecoveryRunner::Reading { {}, {}, true };
    co_return RecoveryRunner::Reading { status->commandsError(), status->teamError() };
}

} // namespace

WindowController::WindowController(QObject* parent)
    : WindowController(Intervals {}, parent)
{
}

WindowController::WindowController(Intervals intervals, QObject* parent)
    : QObject(parent)
    , m_intervals(intervals)
    , m_status(new Status(this))
    , m_catalog(new WorkspaceCatalog(this))
    , m_runtimes(&RuntimeController::shared())
    , m_inventory(new RuntimeInventoryStore(this))
    , m_recovery(new RecoveryRunner(this))
    , m_serviceHealth(new AgentServiceHealth(this))
    , m_enablement(new RuntimeEnablement(this))
    , m_workforce(new WorkforceModel(m_status, m_inventory, this))
    , m_summary(new WorkspaceSummaryModel(
          { m_status, m_catalog, m_inventory, m_enablement, m_runtimes, m_serviceHealth, m_workforce }, this))
    , m_pairTimeLimit(CLI::defaultTimeLimit)
{
    connect(m_status, &Status::changed, this, &WindowController::modelChanged);
    connect(m_catalog, &WorkspaceCatalog::recordsChanged, this, &WindowController::modelChanged);
    connect(m_catalog, &WorkspaceCatalog::selectionChanged, this, &WindowController::modelChanged);
    connect(m_inventory, &RuntimeInventoryStore::changed, this, &WindowController::modelChanged);
    connect(m_inventory, &RuntimeInventoryStore::reportApplied, this, &WindowController::reloadRuntimeEnabled);
    // A pairing that found no tool said so; once a run started after that
    // finds it (installed since), that notice is no longer true. A run
    // already under way when the notice came says nothing of it.
    connect(m_inventory, &RuntimeInventoryStore::reportApplied, this, [this] {
        if (!m_inventory->toolMissing() && m_inventory->runApplied() > m_noticeAfterRun && m_noticeIsError
            && m_notice == CLI::NotFound::description())
            setNotice(std::nullopt, m_noticeIsError);
    });
    connect(m_serviceHealth, &AgentServiceHealth::changed, this, &WindowController::modelChanged);
    connect(m_enablement, &RuntimeEnablement::changed, this, &WindowController::modelChanged);
    connect(m_enablement, &RuntimeEnablement::notice, this,
        [this](const QString& text, bool isError) { setNotice(text, isError); });
    connect(m_runtimes, &RuntimeController::workersChanged, this, &WindowController::modelChanged);

    // A change of the selected workspace reloads the status model at once;
    // setting the value it already has is no change.
    connect(m_catalog, &WorkspaceCatalog::selectionChanged, this, [this] {
        if (m_loopsRunning && !(m_initialSync && m_catalog->settling()))
            selectionReload();
    });
}

WindowController::~WindowController()
{
    stopLoops();
    // The models built over the stores go before them.
    delete m_relocation;
    delete m_runtimeSection;
    delete m_advanced;
    delete m_summary;
}

AdvancedAccess* WindowController::advanced()
{
    if (!m_advanced) {
        m_advanced = new AdvancedAccess(
            *m_runtimes,
            [self = QPointer<WindowController>(this)]() -> std::optional<CLIConfig> {
                return self ? self->selectedConfig() : std::nullopt;
            },
            this);
        // Built before the first catalogue load: the selection arrives later.
        connect(m_catalog, &WorkspaceCatalog::recordsChanged, m_advanced, &AdvancedAccess::selectionChanged);
        connect(m_catalog, &WorkspaceCatalog::selectionChanged, m_advanced, &AdvancedAccess::selectionChanged);
    }
    return m_advanced;
}

RuntimeSectionModel* WindowController::runtimeSection()
{
    if (m_runtimeSection)
        return m_runtimeSection;
    m_runtimeSection = new RuntimeSectionModel({ m_runtimes, m_inventory, m_enablement, m_catalog }, advanced(), this);
    connect(m_runtimeSection, &RuntimeSectionModel::notice, this,
        [this](const QString& text, bool isError) { setNotice(text, isError); });
    // The cards show the serving map the workforce model derives for every view.
    const auto serve = [this] { m_runtimeSection->setRuntimeServing(m_workforce->snapshot().runtimeServing); };
    connect(m_workforce, &WorkforceModel::changed, m_runtimeSection, serve);
    serve();
    return m_runtimeSection;
}

RelocationState* WindowController::relocation()
{
    if (!m_relocation) {
        m_relocation = new RelocationState(m_catalog, this);
        m_relocation->setAfterRebind(reloader());
    }
    return m_relocation;
}

std::optional<CLIConfig> WindowController::selectedConfig() const
{
    if (const std::optional<WorkspaceRecord> r = m_catalog->selected())
        return r->config;
    return std::nullopt;
}

void WindowController::setNotice(const std::optional<QString>& text, bool isError)
{
    m_notice = text;
    m_noticeIsError = isError;
    m_noticeAfterRun = m_inventory->runsStarted();
    emit noticeChanged();
}

void WindowController::setSelectedEmployee(const std::optional<QString>& id)
{
    if (m_selectedEmployee == id)
        return;
    m_selectedEmployee = id;
    emit selectedEmployeeChanged();
}

void WindowController::toggleEmployee(const QString& id)
{
    setSelectedEmployee(m_selectedEmployee == id ? std::nullopt : std::optional<QString>(id));
}

void WindowController::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

// --- loops -------------------------------------------------------------------

void WindowController::startLoops()
{
    if (m_loopsStarted)
        return;
    m_loopsStarted = true;
    m_loopsRunning = true;
    // The poll's first sleep starts together with the start-up load.
    initialLoad();
    checkStoredFiles();
    pollLoop();
    healthLoop();
    // The runtime inventory's first load is the runtime section's, when it
    // comes on screen.
}

void WindowController::stopLoops()
{
    if (!m_loopsRunning)
        return;
    m_loopsRunning = false;
    emit loopsStopped();
}

QCoro::Task<> WindowController::pause(std::chrono::milliseconds duration)
{
    // Stopping the loops, or the controller going, ends the pause at once, so that the loop ends.
    return pauseLoop(this, duration, &WindowController::loopsStopped);
}

QCoro::Task<> WindowController::initialLoad()
{
    QPointer<WindowController> self(this);
    m_initialSync = true;
    co_await m_catalog->reload(true);
    if (!self)
        co_return;
    m_initialSync = false;
    if (!looping(self))
        co_return;
    co_await reloadSelected();
    if (!looping(self))
        co_return;
    emit initialLoadFinished();
}

QCoro::Task<> WindowController::checkStoredFiles()
{
    QPointer<WindowController> self(this);
    auto task = offMainThread(&StoredFileCheck::run);
    const QList<StoredFileCheck::Problem> problems = co_await std::move(task);
    if (!looping(self))
        co_return;
    // A notice the user has not seen yet stays.
    if (!problems.isEmpty() && !m_notice)
        setNotice(StoredFileCheck::notice(problems), true);
    emit storedFilesChecked();
}

QCoro::Task<> WindowController::pollLoop()
{
    QPointer<WindowController> self(this);
    while (looping(self)) {
        co_await pause(m_intervals.poll);
        if (!looping(self))
            co_return;
        co_await m_catalog->reload(false);
        if (!looping(self))
            co_return;
        co_await reloadSelected();
        if (!looping(self))
            co_return;
        emit pollPassFinished();
    }
}

QCoro::Task<> WindowController::healthLoop()
{
    QPointer<WindowController> self(this);
    co_await m_serviceHealth->refresh();
    if (!looping(self))
        co_return;
    emit healthPassFinished();
    for (;;) {
        co_await pause(m_intervals.health);
        if (!looping(self))
            co_return;
        m_inventory->refresh();
        co_await m_serviceHealth->refresh();
        if (!looping(self))
            co_return;
        emit healthPassFinished();
    }
}

QCoro::Task<> WindowController::selectionReload()
{
    QPointer<WindowController> self(this);
    co_await reloadSelected();
    if (!looping(self))
        co_return;
    emit selectionReloadFinished();
}

QCoro::Task<> WindowController::reloadSelected()
{
    QPointer<WindowController> self(this);
    auto reload = m_status->reload(selectedConfig());
    co_await std::move(reload);
    // The endpoint was found for the address of the configuration the status model shows.
    if (self)
        m_catalog->setPublishEndpoint(
            m_status->reachableEndpoint(), m_status->config() ? m_status->config()->api : QString());
}

std::function<QCoro::Task<>()> WindowController::reloader()
{
    return [self = QPointer<WindowController>(this)] { return reloadIfAlive(self); };
}

// --- user actions --------------------------------------------------------------

QCoro::Task<> WindowController::pair(QString folder)
{
    if (m_busy || folder.isEmpty())
        co_return;
    QPointer<WindowController> self(this);
    setBusy(true);
    const QStringList args { QStringLiteral("pair"), QStringLiteral("--path"), folder, QStringLiteral("--grant"),
        QStringLiteral("read") };
    auto run = CLI::runAsync(args, folder, std::nullopt, std::nullopt, m_pairTimeLimit, this);
    const CLI::Result result = co_await std::move(run);
    if (!self)
        co_return;
    setBusy(false);

    if (result.failure == CLI::Failure::NotFound || result.failure == CLI::Failure::CouldNotStart) {
        // The tool never ran: nothing changed anywhere, so nothing is reloaded.
        setNotice(result.error, true);
        emit pairingFinished();
        co_return;
    }
    if (result.failure == CLI::Failure::TimedOut) {
        setNotice(pairFailed(result.error), true);
    } else if (result.code != 0) {
        // A tool that failed without a word still says how it ended.
        const QString said = result.out.trimmed().isEmpty()
            ? QStringLiteral("brenlow pair 退出码 %1：（一个字都没输出）").arg(result.code)
            : result.out;
        setNotice(pairFailed(said), true);
    } else {
        const QString warning = pairWarning(result.out);
        if (warning.isEmpty())
            setNotice(QStringLiteral("工作区已加入；现有工作区与 Runtime 没有停止"), false);
        else
            setNotice(warning, true);
        co_await m_catalog->reload(true);
        if (!self)
            co_return;
        // The pairing file the tool just wrote names the new workspace; read off the GUI thread.
        auto reading = offMainThread([] { return CLIConfig::current(); });
        const std::optional<CLIConfig> current = co_await std::move(reading);
        if (!self)
            co_return;
        if (current)
            m_catalog->setSelectedID(current->workspace);
    }
    co_await reloadSelected();
    if (self)
        emit pairingFinished();
}

QCoro::Task<> WindowController::startRecovery()
{
    QPointer<WindowController> self(this);
    const std::optional<CLIConfig> workspace = selectedConfig();
    const QString id = workspace ? workspace->workspace : QString();
    auto run = m_recovery->run(
        workspace, [inventory = m_inventory] { inventory->refresh(); }, [self, id] { return reloadAndRead(self, id); });
    co_await std::move(run);
    if (!self)
        co_return;
    co_await m_catalog->reload(true);
    if (!self)
        co_return;
    reloadRuntimeEnabled();
    emit recoveryFinished();
}

void WindowController::reloadRuntimeEnabled()
{
    m_enablement->reload(m_inventory->rows());
}
