#include "core/workspaces/RelocationState.h"

#include "core/platform/CredentialRedaction.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/Graphemes.h"
#include "core/platform/OffMainThread.h"
#include "core/workspaces/Relocation.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

RelocationState::RelocationState(WorkspaceCatalog* catalog, QObject* parent)
    : QObject(parent)
    , m_catalog(catalog)
    , m_arguments(QCoreApplication::arguments())
{
    if (m_catalog) {
        connect(m_catalog, &WorkspaceCatalog::recordsChanged, this, &RelocationState::sync);
        connect(m_catalog, &WorkspaceCatalog::selectionChanged, this, &RelocationState::sync);
    }
    sync();
}

QString RelocationState::refusedWithoutReason()
{
    return QStringLiteral("Brenlow CLI 没有接受这个目录，也没有说明原因。");
}

QString RelocationState::takenBy(const QString& owner, const QString& workspace)
{
    return QStringLiteral("这个目录已经是工作区「%1」的目录了，不能再绑给「%2」：两个工作区共用一个目录，"
                          "在「%2」下启动的 Runtime 会去改「%1」的项目。请指向「%2」自己的目录。")
        .arg(owner, workspace);
}

bool RelocationState::relocateBusy() const
{
    return m_workspace && m_searching.contains(m_workspace->id());
}

bool RelocationState::rebindBusy() const
{
    return m_workspace && m_rebinding.contains(m_workspace->id());
}

bool RelocationState::onShow(const QString& workspace) const
{
    return m_workspace && m_workspace->id() == workspace;
}

quint64 RelocationState::nextTicket(const QString& workspace)
{
    return ++m_tickets[workspace];
}

bool RelocationState::latest(const QString& workspace, quint64 ticket) const
{
    return onShow(workspace) && m_tickets.value(workspace) == ticket;
}

void RelocationState::sync()
{
    std::optional<WorkspaceRecord> selected = m_catalog ? m_catalog->selected() : std::nullopt;
    if (selected && selected->localPathExists())
        selected.reset();

    const bool sameWorkspace
        = m_workspace.has_value() == selected.has_value() && (!selected || m_workspace->id() == selected->id());
    const bool sameRecord = m_workspace == selected;
    if (!sameWorkspace) {
        // What was on show belongs to the workspace that was on show.
        m_note.clear();
        m_pending.clear();
        m_candidates.clear();
    }
    m_workspace = selected;
    if (!sameRecord)
        emit changed();

    // The automatic search runs once per workspace, counted when it starts.
    if (selected && !m_autoTried.contains(selected->id()) && !m_searching.contains(selected->id())) {
        m_autoTried.insert(selected->id());
        discoverFor(selected->id());
    }
}

void RelocationState::autoRelocate()
{
    if (!m_workspace)
        return;
    m_note = QStringLiteral("正在找…");
    emit changed();
    discoverFor(m_workspace->id());
}

QCoro::Task<> RelocationState::discoverFor(QString workspace)
{
    if (m_searching.contains(workspace))
        co_return;
    m_searching.insert(workspace);
    const quint64 ticket = nextTicket(workspace);
    if (onShow(workspace)) {
        m_pending.clear();
        m_candidates.clear();
        emit changed();
    }

    QPointer<RelocationState> self(this);
    // Owned by this state: the tool is stopped when the state goes.
    auto search = Relocation::discover(workspace, Relocation::kTimeLimit, this);
    const Relocation::Discovery answer = co_await std::move(search);
    if (!self)
        co_return;
    m_searching.remove(workspace);

    const bool show = latest(workspace, ticket);
    if (answer.ok && !answer.path.isEmpty()) {
        DeskCrumbs::drop(QStringLiteral("discover 唯一命中 ") + answer.path + QStringLiteral("，等用户确认"));
        if (show) {
            m_pending = answer.path;
            m_note.clear();
        }
    } else if (answer.candidates.size() >= 2) {
        DeskCrumbs::drop(
            QStringLiteral("discover 多候选 ") + QString::number(answer.candidates.size()) + QStringLiteral(" 个"));
        if (show) {
            m_candidates = answer.candidates;
            m_note.clear();
        }
    } else {
        // One candidate alone is not offered: it was not found for certain.
        // The tool's words are shown and logged as they are, so a secret it echoed is masked first.
        const QString error = CredentialRedaction::redact(answer.error);
        DeskCrumbs::drop(QStringLiteral("discover 没找着 · cand=") + QString::number(answer.candidates.size())
            + QStringLiteral(" · CLI 说：") + Graphemes::leading(error, 200));
        if (show)
            m_note = error.isEmpty() ? QStringLiteral("自动找了一遍，没找着。") : error;
    }
    emit changed();
    emit discoveryFinished(workspace);
}

void RelocationState::confirmRelocation(QString path)
{
    if (!m_workspace || path.isEmpty() || rebindBusy())
        return;
    m_pending.clear();
    m_candidates.clear();
    m_note = QStringLiteral("正在恢复到 ") + path + QStringLiteral("…");
    DeskCrumbs::drop(QStringLiteral("confirmRelocation → ") + path);
    emit changed();
    applyFor(m_workspace->id(), path, true);
}

void RelocationState::rejectMatch()
{
    if (!m_workspace)
        return;
    m_pending.clear();
    m_note = QStringLiteral("那就手动指一次吧。");
    emit changed();
}

void RelocationState::applyRelocation(QString path)
{
    if (!m_workspace || path.isEmpty() || rebindBusy())
        return;
    m_note = QStringLiteral("正在重新定位到 ") + path + QStringLiteral("…");
    m_pending.clear();
    m_candidates.clear();
    DeskCrumbs::drop(QStringLiteral("applyRelocation → ") + path);
    emit changed();
    applyFor(m_workspace->id(), path, false);
}

QCoro::Task<> RelocationState::applyFor(QString workspace, QString path, bool confirmed)
{
    const quint64 ticket = nextTicket(workspace);
    m_rebinding.insert(workspace);
    emit changed();
    QPointer<RelocationState> self(this);
    // One folder, one workspace: a folder another paired workspace is bound to
    // is refused before the tool runs, or a runtime started under this one
    // would work in that one's project. Resolving folders touches the disk.
    const QList<WorkspaceRecord> paired = m_catalog ? m_catalog->records() : QList<WorkspaceRecord>();
    const QString name = onShow(workspace) ? m_workspace->config.displayName() : workspace;
    auto lookUp
        = offMainThread([paired, path, workspace] { return WorkspaceRecord::pairedAt(paired, path, workspace); });
    const std::optional<WorkspaceRecord> owner = co_await std::move(lookUp);
    if (!self)
        co_return;
    Relocation::Discovery answer;
    if (owner) {
        answer.error = takenBy(owner->config.displayName(), name);
    } else {
        auto rebind = Relocation::apply(workspace, path, Relocation::kTimeLimit, this);
        answer = co_await std::move(rebind);
        if (!self)
            co_return;
    }

    if (answer.ok) {
        if (latest(workspace, ticket)) {
            m_note.clear();
            emit changed();
        }
        // The pairing files changed whichever workspace is on show now.
        auto reload = reloadCatalog();
        co_await std::move(reload);
        if (!self)
            co_return;
        rebindEnded(workspace, true);
        co_return;
    }

    // A refusal without a reason still says that nothing was re-bound.
    const QString error = answer.error.isEmpty() ? refusedWithoutReason() : CredentialRedaction::redact(answer.error);
    DeskCrumbs::drop((confirmed ? QStringLiteral("confirmRelocation 被拒：") : QStringLiteral("applyRelocation 被拒："))
        + Graphemes::leading(error, 60));
    if (latest(workspace, ticket))
        m_note = error;
    rebindEnded(workspace, false);
}

void RelocationState::rebindEnded(const QString& workspace, bool ok)
{
    m_rebinding.remove(workspace);
    if (onShow(workspace))
        emit changed();
    emit relocationFinished(workspace, ok);
}

QCoro::Task<> RelocationState::reloadCatalog()
{
    QPointer<RelocationState> self(this);
    QPointer<WorkspaceCatalog> catalog = m_catalog;
    if (catalog) {
        auto reload = catalog->reload(true);
        co_await std::move(reload);
    }
    if (!self || !m_afterRebind)
        co_return;
    auto after = m_afterRebind();
    co_await std::move(after);
}

QString RelocationState::pickerStartFolder() const
{
    const std::optional<QString> path = m_workspace ? m_workspace->config.path : std::nullopt;
    if (path && QDir::isAbsolutePath(*path)) {
        const QFileInfo parent(QFileInfo(*path).absolutePath());
        if (parent.isDir())
            return parent.absoluteFilePath();
    }
    return QDir::homePath();
}

QCoro::Task<> RelocationState::pickNewLocation(FolderPicker picker)
{
    if (!m_workspace || rebindBusy())
        co_return;
    const QString workspace = m_workspace->id();
    const QString flag = QString::fromLatin1(kRelocateArgument);
    const qsizetype at = m_arguments.indexOf(flag);
    DeskCrumbs::drop(QStringLiteral("pickNewLocation(ws=") + Graphemes::leading(workspace, 8)
        + QStringLiteral(") 启动参数里有 -ZRKRelocateTo：")
        + (at >= 0 ? QStringLiteral("有") : QStringLiteral("没有")));
    // The argument stays: every press applies the same folder again.
    if (at >= 0 && at + 1 < m_arguments.size()) {
        applyRelocation(QFileInfo(m_arguments.at(at + 1)).absoluteFilePath());
        co_return;
    }

    DeskCrumbs::drop(
        QStringLiteral("pickNewLocation: 走选目录的对话框 QFileDialog（自动化下没人会去选目录，界面会一直不动）"));
    if (!picker)
        co_return;
    QPointer<RelocationState> self(this);
    auto ask = picker();
    const std::optional<QString> folder = co_await std::move(ask);
    // A folder chosen for a workspace that is no longer on show is not applied to another.
    if (!self || !folder || folder->isEmpty() || !onShow(workspace))
        co_return;
    applyRelocation(*folder);
}
