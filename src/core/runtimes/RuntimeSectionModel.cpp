#include "core/runtimes/RuntimeSectionModel.h"

#include "core/platform/PendingCall.h"
#include "core/platform/SecretStore.h"
#include "core/platform/SerialExecutor.h"
#include "core/providers/CredentialBroker.h"
#include "core/runtimes/RuntimeCardText.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeInstall.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/runtimes/RuntimeLogin.h"
#include "core/runtimes/RuntimeSectionValues.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include <QDir>

namespace {

// Which of the profiles have a key in the secret store, asked on its queue
// (the Secret Service may wait on a prompt or a stalled daemon).
QCoro::Task<QSet<QUuid>> keyedAmong(QList<QUuid> ids)
{
    return SecretStore::queue().task([ids = std::move(ids)] { return CredentialBroker::keyedProfiles(ids); });
}

QString joined(const QStringList& words)
{
    return words.join(QLatin1Char(' '));
}

} // namespace

RuntimeSectionModel::RuntimeSectionModel(const Stores& stores, AdvancedAccess* advanced, QObject* parent)
    : QObject(parent)
    , m_runtimes(stores.runtimes)
    , m_inventory(stores.inventory)
    , m_enablement(stores.enablement)
    , m_catalog(stores.catalog)
    , m_advanced(advanced)
    // Several stores often change in one go: the views hear of it once.
    , m_publish(new PendingCall(this,
          [this] {
              // The action table follows every change it depends on (rows, setup,
              // enablement, workers, selection); an unchanged table is not written.
              dumpRuntimeActions();
              emit changed();
          }))
    , m_actionsFile(RuntimeCardActions::filePath())
{
    connect(m_catalog, &WorkspaceCatalog::selectionChanged, this, [this] {
        invalidate();
        emit logChanged();
    });
    connect(m_catalog, &WorkspaceCatalog::recordsChanged, this, &RuntimeSectionModel::invalidate);
    connect(m_inventory, &RuntimeInventoryStore::changed, this, &RuntimeSectionModel::onInventoryChanged);
    connect(m_enablement, &RuntimeEnablement::changed, this, &RuntimeSectionModel::invalidate);
    connect(m_runtimes, &RuntimeController::workersChanged, this, &RuntimeSectionModel::invalidate);
    connect(m_runtimes, &RuntimeController::startFailed, this, &RuntimeSectionModel::noteStartFailure);
    connect(m_runtimes, &RuntimeController::outputChanged, this, [this](const QString& workspace) {
        const std::optional<CLIConfig> cfg = selectedConfig();
        if (cfg && cfg->workspace == workspace)
            emit logChanged();
    });
    onInventoryChanged();
}

// --- derived values -------------------------------------------------------------

bool RuntimeSectionModel::live() const
{
    return m_runtimes && m_inventory && m_enablement && m_catalog;
}

std::optional<CLIConfig> RuntimeSectionModel::selectedConfig() const
{
    if (!m_catalog)
        return std::nullopt;
    if (const std::optional<WorkspaceRecord> r = m_catalog->selected())
        return r->config;
    return std::nullopt;
}

void RuntimeSectionModel::invalidate()
{
    m_derived.reset();
    m_publish->request();
}

void RuntimeSectionModel::onInventoryChanged()
{
    invalidate();
    if (!live())
        return;
    const RuntimeInventoryStore& inventory = *m_inventory;

    QList<QUuid> ids;
    for (const ProviderProfile& p : inventory.profiles())
        ids.append(p.id);
    if (ids != m_profileIDs) {
        m_profileIDs = ids;
        checkKeys();
    }
}

QCoro::Task<> RuntimeSectionModel::checkKeys()
{
    QPointer<RuntimeSectionModel> self(this);
    const quint64 generation = ++m_keyGeneration;
    auto check = keyedAmong(m_profileIDs);
    const QSet<QUuid> keyed = co_await std::move(check);
    // A newer check (other profiles, a key added or removed) has the say.
    if (!self || generation != self->m_keyGeneration)
        co_return;
    self->m_keyed = keyed;
    self->m_keysKnown = true;
    self->invalidate();
}

const RuntimeSectionModel::Derived& RuntimeSectionModel::derived() const
{
    if (!m_derived) {
        Derived d;
        if (live()) {
            d.plainRows = RuntimeSectionValues::plainRuntimeRows(m_inventory->rows());
        }
        m_derived = std::move(d);
    }
    return *m_derived;
}

QList<RuntimeRow> RuntimeSectionModel::rows() const
{
    return live() ? m_inventory->rows() : QList<RuntimeRow> {};
}

bool RuntimeSectionModel::loading() const
{
    return live() && m_inventory->loading();
}

std::optional<QString> RuntimeSectionModel::failure() const
{
    return live() ? m_inventory->failure() : std::nullopt;
}

std::optional<QString> RuntimeSectionModel::countLine() const
{
    return live() ? RuntimeSectionValues::runtimeCountLine(m_inventory->counts()) : std::nullopt;
}

QList<RuntimeRow> RuntimeSectionModel::plainRuntimeRows() const
{
    return derived().plainRows;
}

void RuntimeSectionModel::setRuntimeServing(const QHash<QString, QList<RuntimeServing>>& serving)
{
    if (serving == m_serving)
        return;
    m_serving = serving;
    invalidate();
}

RuntimeCardState RuntimeSectionModel::cardState(const RuntimeRow& row) const
{
    RuntimeCardState s;
    s.row = row;
    if (!live())
        return s;
    const RuntimeInventoryStore& inventory = *m_inventory;
    s.cfg = selectedConfig();
    const QMap<QString, RuntimeSetupInfo> setup = inventory.setup();
    if (const auto it = setup.constFind(row.kind); it != setup.cend())
        s.setup = *it;
    s.boundProfile = inventory.profile(row.kind);
    if (s.boundProfile && m_keysKnown)
        s.boundProfileHasKey = m_keyed.contains(s.boundProfile->id);
    s.allProfiles = inventory.profiles();
    s.serving = m_serving.value(row.kind);
    s.enabled = m_enablement->isEnabled(row.kind);
    s.running = s.cfg && m_runtimes->isRunning(s.cfg->workspace, row.kind);
    if (const auto it = m_outcomes.constFind(row.kind); it != m_outcomes.cend())
        s.outcome = *it;
    else if (s.cfg)
        s.outcome = workerNote(s.cfg->workspace, row);
    s.busy = m_switching.contains(row.kind);
    return s;
}

std::optional<RuntimeNotice> RuntimeSectionModel::workerNote(const QString& workspace, const RuntimeRow& row) const
{
    if (const auto ended = m_runtimes->earlyEnd(workspace, row.kind))
        return RuntimeNotice { RuntimeCardText::earlyEnd(row.display, ended->status, ended->signalled, ended->lastLine),
            true };
    if (std::optional<QString> why = m_runtimes->unrecorded(workspace, row.kind)) {
        const QString path = RuntimeChildLedger::filePath();
        const QString home = QDir::homePath();
        if (RuntimeChildLedger::isLockHeld(*why))
            return RuntimeNotice { RuntimeCardText::unrecordedLockHeld(RuntimeCardText::shortenHome(path, home),
                                       RuntimeCardText::shortenHome(RuntimeChildLedger::lockPath(), home)),
                true };
        // The path is said once.
        if (why->startsWith(path + QStringLiteral("：")))
            why = why->mid(path.size() + 1);
        return RuntimeNotice { RuntimeCardText::unrecorded(
                                   RuntimeCardText::shortenHome(path, home), RuntimeCardText::shortenHome(*why, home)),
            true };
    }
    return std::nullopt;
}

QStringList RuntimeSectionModel::logLines() const
{
    if (!live())
        return {};
    const std::optional<CLIConfig> cfg = selectedConfig();
    if (!cfg)
        return {};
    return RuntimeSectionValues::logTail(m_runtimes->lines(cfg->workspace), kLogLines);
}

std::optional<RuntimeRow> RuntimeSectionModel::row(const QString& kind) const
{
    for (const RuntimeRow& r : rows()) {
        if (r.kind == kind)
            return r;
    }
    return std::nullopt;
}

// --- actions --------------------------------------------------------------------

void RuntimeSectionModel::sectionShown()
{
    if (!live())
        return;
    if (m_inventory->rows().isEmpty())
        m_inventory->refresh();
    m_enablement->reload(m_inventory->rows());
    dumpRuntimeActions(true);
}

void RuntimeSectionModel::refresh()
{
    if (live())
        m_inventory->refresh();
}

void RuntimeSectionModel::say(const QString& kind, const RuntimeNotice& said)
{
    m_outcomes.insert(kind, said);
    invalidate();
    emit notice(said.text, said.isError);
}

void RuntimeSectionModel::noteStartFailure(const QString& workspace, const QString& kind, const QString& line)
{
    const auto it = m_starting.constFind(kind);
    if (it == m_starting.cend() || *it != workspace || !live())
        return;
    m_starting.erase(it);
    // "[Claude Code] 启动失败：…" reads on the card as "Claude Code 启动失败：…".
    const qsizetype close = line.indexOf(QStringLiteral("] "));
    const QString text = line.startsWith(QLatin1Char('[')) && close > 0
        ? line.mid(1, close - 1) + QLatin1Char(' ') + line.mid(close + 2)
        : line;
    say(kind, RuntimeNotice { text, true });
}

void RuntimeSectionModel::sendToTerminal(const QString& kind, const QStringList& command,
    const std::optional<QString>& cwd, const QString& sent, RuntimeLogin::Start start)
{
    if (RuntimeLogin::open(command, cwd, start)) {
        if (!sent.isEmpty())
            say(kind, { sent, false });
    } else {
        // No terminal could be started: the user runs the line by hand.
        say(kind, { QStringLiteral("打不开终端，请自己运行：") + RuntimeLogin::shellLine(command, cwd), true });
    }
}

QCoro::Task<> RuntimeSectionModel::setEnabled(RuntimeRow row, bool enabled)
{
    QPointer<RuntimeSectionModel> self(this);
    m_switching.insert(row.kind);
    invalidate();
    // The enablement posts the window's notice itself; the card says it here.
    auto write = m_enablement->setEnabled(row, enabled, m_inventory->rows());
    const RuntimeNotice said = co_await std::move(write);
    if (!self)
        co_return;
    self->m_switching.remove(row.kind);
    self->m_outcomes.insert(row.kind, said);
    self->invalidate();
}

void RuntimeSectionModel::perform(const QString& kind, RuntimeCardActions::Action action)
{
    using RuntimeCardActions::Action;
    const std::optional<RuntimeRow> r = row(kind);
    if (!live() || !r)
        return;
    const RuntimeCardState s = cardState(*r);
    // A button is only pressed while it shows and its card is not busy; the
    // state may have moved on since (a double click's second press).
    if (s.busy || !s.actions().contains(action))
        return;
    // The card's line speaks of its latest action only.
    m_starting.remove(kind);
    if (m_outcomes.remove(kind))
        invalidate();
    switch (action) {
    case Action::login:
        sendToTerminal(kind, r->loginCommand, s.cwd(), QString());
        break;
    case Action::install:
        if (const auto command = RuntimeInstall::command(*s.setup)) {
            sendToTerminal(kind, *command, s.cwd(), QStringLiteral("安装命令已送到终端：") + joined(*command));
        }
        break;
    case Action::reinstall:
        if (const auto command = RuntimeInstall::reinstallCommand(*s.setup)) {
            sendToTerminal(kind, *command, s.cwd(), QStringLiteral("重装命令已送到终端（先卸再装，一条命令）"));
        }
        break;
    case Action::disable:
    case Action::enable:
        setEnabled(*r, action == Action::enable);
        break;
    case Action::stop:
        m_runtimes->stop(s.cfg->workspace, kind);
        break;
    case Action::start:
        // A worker that cannot be started says so in the log; the card says it too.
        m_starting.insert(kind, s.cfg->workspace);
        m_runtimes->start(*s.cfg, RuntimeCardActions::launch(*r), s.setup, s.boundProfile);
        break;
    case Action::uninstall:
    case Action::model:
        // Both open something first: the card's confirmation and sheet.
        break;
    }
}

void RuntimeSectionModel::confirmUninstall(const QString& kind)
{
    const std::optional<RuntimeRow> r = row(kind);
    if (!r)
        return;
    const RuntimeCardState s = cardState(*r);
    if (!s.setup)
        return;
    if (const auto command = RuntimeInstall::uninstallCommand(*s.setup)) {
        sendToTerminal(kind, *command, s.cwd(), QStringLiteral("卸载命令已送到终端：") + joined(*command),
            RuntimeLogin::Start::afterEnter);
    }
}

void RuntimeSectionModel::credentialsChanged(const QString& kind, const std::optional<QString>& message, bool problem)
{
    if (message)
        say(kind, { *message, problem });
    if (!live())
        return;
    m_inventory->refreshConfigured();
    // A key may have come or gone under the same profiles.
    checkKeys();
}

QString RuntimeSectionModel::diagnosticsText(const QString& kind) const
{
    const std::optional<RuntimeRow> r = row(kind);
    return r ? RuntimeCardText::clipboardDiagnostics(*r, QDir::homePath()) : QString();
}

void RuntimeSectionModel::notifyCopied(const QString& kind)
{
    if (const std::optional<RuntimeRow> r = row(kind))
        say(kind, { r->display + QStringLiteral(" 的诊断信息已复制（凭据已隐去）"), false });
}

void RuntimeSectionModel::dumpRuntimeActions(bool force)
{
    if (!live())
        return;
    const std::optional<CLIConfig> cfg = selectedConfig();
    const RuntimeController& runtimes = *m_runtimes;
    const QJsonObject table = RuntimeCardActions::table(
        m_inventory->rows(), m_enablement->enabled(),
        [&](const QString& kind) { return cfg && runtimes.isRunning(cfg->workspace, kind); }, cfg.has_value(),
        m_inventory->setup());
    if (!force && m_lastTable == table)
        return;
    m_actionsFile.write(RuntimeCardActions::fileBytes(table));
    m_lastTable = table;
}
