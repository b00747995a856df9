#include "core/shell/RuntimeSectionModel.h"

#include "core/agents/AdvancedAccess.h"
#include "core/platform/OffMainThread.h"
#include "core/providers/CredentialBroker.h"
#include "core/runtimes/RuntimeCardText.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeInstall.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/runtimes/RuntimeLogin.h"
#include "core/shell/RuntimeSectionValues.h"
#include "core/shell/WindowController.h"
#include "core/workforce/WorkforceModel.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include <QDir>
#include <QTimer>

namespace {

// Which of the profiles have a key in the secret store, asked off the GUI
// thread (the Secret Service may wait on a prompt or a stalled daemon).
QCoro::Task<QSet<QUuid>> keyedAmong(QList<QUuid> ids)
{
    return offMainThread([ids = std::move(ids)] {
        QSet<QUuid> keyed;
        for (const QUuid& id : ids) {
            if (CredentialBroker::isConfigured(id))
                keyed.insert(id);
        }
        return keyed;
    });
}

QString joined(const QStringList& words)
{
    return words.join(QLatin1Char(' '));
}

} // namespace

RuntimeSectionModel::RuntimeSectionModel(WindowController* window, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_advanced(new AdvancedAccess(
          window->runtimes(),
          [w = QPointer<WindowController>(window)]() -> std::optional<CLIConfig> {
              return w ? w->selectedConfig() : std::nullopt;
          },
          this))
    , m_publish(new QTimer(this))
    , m_actionsFile(RuntimeCardActions::filePath())
{
    // Several stores often change in one go: the views hear of it once.
    m_publish->setSingleShot(true);
    m_publish->setInterval(0);
    // The action table follows every change it depends on (rows, setup,
    // enablement, workers, selection); an unchanged table is not written.
    connect(m_publish, &QTimer::timeout, this, [this] {
        dumpRuntimeActions();
        emit changed();
    });

    // The serving map is the workforce model's, derived once for every view.
    connect(window->workforce(), &WorkforceModel::changed, this, &RuntimeSectionModel::invalidate);
    connect(window->catalog(), &WorkspaceCatalog::selectionChanged, this, [this] {
        invalidate();
        emit logChanged();
    });
    connect(window->catalog(), &WorkspaceCatalog::recordsChanged, this, &RuntimeSectionModel::invalidate);
    connect(window->inventory(), &RuntimeInventoryStore::changed, this, &RuntimeSectionModel::onInventoryChanged);
    connect(window->enablement(), &RuntimeEnablement::changed, this, &RuntimeSectionModel::invalidate);
    connect(&window->runtimes(), &RuntimeController::workersChanged, this, &RuntimeSectionModel::invalidate);
    connect(&window->runtimes(), &RuntimeController::outputChanged, this, [this](const QString& workspace) {
        const std::optional<CLIConfig> cfg = m_window ? m_window->selectedConfig() : std::nullopt;
        if (cfg && cfg->workspace == workspace)
            emit logChanged();
    });
    onInventoryChanged();
}

// --- derived values -------------------------------------------------------------

void RuntimeSectionModel::invalidate()
{
    m_derived.reset();
    if (!m_publish->isActive())
        m_publish->start();
}

void RuntimeSectionModel::onInventoryChanged()
{
    invalidate();
    if (!m_window)
        return;
    const RuntimeInventoryStore& inventory = *m_window->inventory();

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
        if (m_window) {
            d.plainRows = RuntimeSectionValues::plainRuntimeRows(m_window->inventory()->rows());
        }
        m_derived = std::move(d);
    }
    return *m_derived;
}

QList<RuntimeRow> RuntimeSectionModel::rows() const
{
    return m_window ? m_window->inventory()->rows() : QList<RuntimeRow> {};
}

bool RuntimeSectionModel::loading() const
{
    return m_window && m_window->inventory()->loading();
}

std::optional<QString> RuntimeSectionModel::failure() const
{
    return m_window ? m_window->inventory()->failure() : std::nullopt;
}

std::optional<QString> RuntimeSectionModel::countLine() const
{
    return m_window ? RuntimeSectionValues::runtimeCountLine(m_window->inventory()->counts()) : std::nullopt;
}

QList<RuntimeRow> RuntimeSectionModel::plainRuntimeRows() const
{
    return derived().plainRows;
}

RuntimeCardState RuntimeSectionModel::cardState(const RuntimeRow& row) const
{
    RuntimeCardState s;
    s.row = row;
    if (!m_window)
        return s;
    const RuntimeInventoryStore& inventory = *m_window->inventory();
    s.cfg = m_window->selectedConfig();
    const QMap<QString, RuntimeSetupInfo> setup = inventory.setup();
    if (const auto it = setup.constFind(row.kind); it != setup.cend())
        s.setup = *it;
    s.boundProfile = inventory.profile(row.kind);
    if (s.boundProfile && m_keysKnown)
        s.boundProfileHasKey = m_keyed.contains(s.boundProfile->id);
    s.allProfiles = inventory.profiles();
    s.serving = m_window->workforce()->snapshot().runtimeServing.value(row.kind);
    s.enabled = m_window->enablement()->isEnabled(row.kind);
    s.running = s.cfg && m_window->runtimes().isRunning(s.cfg->workspace, row.kind);
    return s;
}

QStringList RuntimeSectionModel::logLines() const
{
    if (!m_window)
        return {};
    const std::optional<CLIConfig> cfg = m_window->selectedConfig();
    if (!cfg)
        return {};
    return RuntimeSectionValues::logTail(m_window->runtimes().lines(cfg->workspace), kLogLines);
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
    if (!m_window)
        return;
    if (m_window->inventory()->rows().isEmpty())
        m_window->inventory()->refresh();
    m_window->reloadRuntimeEnabled();
    dumpRuntimeActions(true);
}

void RuntimeSectionModel::refresh()
{
    if (m_window)
        m_window->inventory()->refresh();
}

void RuntimeSectionModel::notify(const QString& text)
{
    if (m_window)
        m_window->setNotice(text, false);
}

void RuntimeSectionModel::sendToTerminal(
    const QStringList& command, const std::optional<QString>& cwd, const QString& sent, RuntimeLogin::Start start)
{
    if (RuntimeLogin::open(command, cwd, start)) {
        if (!sent.isEmpty())
            notify(sent);
    } else if (m_window) {
        // No terminal could be started: the user runs the line by hand.
        m_window->setNotice(QStringLiteral("打不开终端，请自己运行：") + RuntimeLogin::shellLine(command, cwd), true);
    }
}

void RuntimeSectionModel::perform(const QString& kind, RuntimeCardActions::Action action)
{
    using RuntimeCardActions::Action;
    const std::optional<RuntimeRow> r = row(kind);
    if (!m_window || !r)
        return;
    const RuntimeCardState s = cardState(*r);
    // A button is only pressed while it shows; the state may have moved on since.
    if (!s.actions().contains(action))
        return;
    switch (action) {
    case Action::login:
        sendToTerminal(r->loginCommand, s.cwd(), QString());
        break;
    case Action::install:
        if (const auto command = RuntimeInstall::command(*s.setup)) {
            sendToTerminal(*command, s.cwd(), QStringLiteral("安装命令已送到终端：") + joined(*command));
        }
        break;
    case Action::reinstall:
        if (const auto command = RuntimeInstall::reinstallCommand(*s.setup)) {
            sendToTerminal(*command, s.cwd(), QStringLiteral("重装命令已送到终端（先卸再装，一条命令）"));
        }
        break;
    case Action::disable:
    case Action::enable:
        m_window->enablement()->setEnabled(*r, action == Action::enable, m_window->inventory()->rows());
        break;
    case Action::stop:
        m_window->runtimes().stop(s.cfg->workspace, kind);
        break;
    case Action::start:
        m_window->runtimes().start(*s.cfg, RuntimeCardActions::launch(*r), s.setup, s.boundProfile);
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
        sendToTerminal(*command, s.cwd(), QStringLiteral("卸载命令已送到终端：") + joined(*command),
            RuntimeLogin::Start::afterEnter);
    }
}

void RuntimeSectionModel::credentialsChanged(const std::optional<QString>& message)
{
    if (message)
        notify(*message);
    if (!m_window)
        return;
    m_window->inventory()->refreshConfigured();
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
        notify(r->display + QStringLiteral(" 的诊断信息已复制（凭据已隐去）"));
}

void RuntimeSectionModel::dumpRuntimeActions(bool force)
{
    if (!m_window)
        return;
    const std::optional<CLIConfig> cfg = m_window->selectedConfig();
    const RuntimeController& runtimes = m_window->runtimes();
    const QJsonObject table = RuntimeCardActions::table(
        m_window->inventory()->rows(), m_window->enablement()->enabled(),
        [&](const QString& kind) { return cfg && runtimes.isRunning(cfg->workspace, kind); }, cfg.has_value(),
        m_window->inventory()->setup());
    if (!force && m_lastTable == table)
        return;
    m_actionsFile.write(RuntimeCardActions::fileBytes(table));
    m_lastTable = table;
}
