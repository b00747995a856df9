#pragma once

#include "core/workspaces/WorkspaceRecord.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

class WorkspaceCatalog;

// What the moved-workspace banner shows and does for the catalogue's selected
// workspace while its folder is missing: one automatic search per workspace,
// a single match to confirm, several candidates to choose among (never chosen
// for the user), a folder picked by hand, and the re-binding through the
// companion tool, followed by a reload of the catalogue.
//
// Everything on show belongs to one workspace. A result that arrives for a
// workspace that is no longer the one on show is dropped, so a match found for
// one workspace can never be confirmed for another: binding the wrong folder
// would let the AI employees change another project's code. Within one
// workspace the latest action wins: a search that ends after the user has
// confirmed or picked a folder does not bring back what it found.
class RelocationState : public QObject {
    Q_OBJECT
public:
    // The launch argument whose next argument replaces the folder picker.
    static constexpr const char* kRelocateArgument = "-ZRKRelocateTo";

    using Reload = std::function<QCoro::Task<>()>;
    // Asks the user for a folder; none when cancelled.
    using FolderPicker = std::function<QCoro::Task<std::optional<QString>>()>;

    explicit RelocationState(WorkspaceCatalog* catalog, QObject* parent = nullptr);

    // What runs after a successful re-binding, once the catalogue's
    // synchronising reload has read the new folder (the window's status reload).
    void setAfterRebind(Reload reload) { m_afterRebind = std::move(reload); }
    // The process's launch arguments, program first; the application's unless set.
    void setLaunchArguments(const QStringList& arguments) { m_arguments = arguments; }

    // The selected workspace while its folder is missing; none while the
    // banner is not shown.
    const std::optional<WorkspaceRecord>& workspace() const { return m_workspace; }
    bool shown() const { return m_workspace.has_value(); }

    // The note line: progress, refusal or not-found text; empty for none.
    const QString& relocateNote() const { return m_note; }
    // The one folder a search found, awaiting confirmation; empty for none.
    const QString& relocatePending() const { return m_pending; }
    // Folders a search offered when it found several; shown from two on.
    const QStringList& relocateCandidates() const { return m_candidates; }
    // A search for the workspace on show is running.
    bool relocateBusy() const;
    // A re-binding of the workspace on show is running: until it ends, no
    // other folder is applied to it (one press, one run of the tool).
    bool rebindBusy() const;
    // Workspaces whose automatic search has started; only grows.
    const QSet<QString>& autoTried() const { return m_autoTried; }

    // The retry button: the note says it is searching, then a search (none
    // while one for this workspace runs).
    void autoRelocate();
    // The user confirms the match, or chooses one of the candidates.
    // (By value: the caller may hand in the pending match, which this clears.)
    void confirmRelocation(QString path);
    // The user says the match is not the folder.
    void rejectMatch();
    // Re-binds the workspace on show to a folder the user pointed at.
    void applyRelocation(QString path);
    // The folder button: the folder of the launch argument when there is one,
    // else the picker's; nothing when the picker is cancelled.
    QCoro::Task<> pickNewLocation(FolderPicker picker);
    // Where the folder picker opens: the parent of the folder as paired while
    // that parent exists (a folder is mostly moved or renamed next to where it
    // was), else the home folder.
    QString pickerStartFolder() const;

    // The refusal note when the tool gave no reason.
    static QString refusedWithoutReason();
    // The refusal note for a folder the workspace `owner` is paired to, asked
    // for `workspace` (both display names).
    static QString takenBy(const QString& owner, const QString& workspace);

signals:
    void changed();
    // A search or a re-binding has ended, whether or not its result was shown
    // (for tests and automation).
    void discoveryFinished(const QString& workspace);
    void relocationFinished(const QString& workspace, bool ok);

private:
    void sync();
    bool onShow(const QString& workspace) const;
    quint64 nextTicket(const QString& workspace);
    bool latest(const QString& workspace, quint64 ticket) const;
    // One search; returns at once while one for the workspace runs.
    QCoro::Task<> discoverFor(QString workspace);
    QCoro::Task<> applyFor(QString workspace, QString path, bool confirmed);
    QCoro::Task<> reloadCatalog();
    // A re-binding of `workspace` has ended: the folder controls are free again.
    void rebindEnded(const QString& workspace, bool ok);

    QPointer<WorkspaceCatalog> m_catalog;
    Reload m_afterRebind;
    QStringList m_arguments;

    std::optional<WorkspaceRecord> m_workspace;
    QString m_note;
    QString m_pending;
    QStringList m_candidates;
    QSet<QString> m_autoTried;
    // Workspaces with a search running.
    QSet<QString> m_searching;
    // Workspaces with a re-binding running.
    QSet<QString> m_rebinding;
    // The latest action per workspace; older results are not shown.
    QHash<QString, quint64> m_tickets;
};
