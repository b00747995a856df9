#pragma once

#include "core/agents/AdvancedConnection.h"
#include "core/gateway/CLIConfig.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

class RuntimeController;

// The main window's custom agent connections: the list kept in the
// connections store, and their workers, started and stopped through the
// runtime controller as runtime kind "generic" in the selected workspace.
// A workspace runs one such worker at a time, so starting one connection
// ends the one running there before.
class AdvancedAccess : public QObject {
    Q_OBJECT
public:
    using SelectedConfig = std::function<std::optional<CLIConfig>()>;

    AdvancedAccess(RuntimeController& runtimes, SelectedConfig selected, QObject* parent = nullptr);

    static QString runtimeKind() { return QStringLiteral("generic"); }

    QList<AdvancedConnection> connections() const { return m_connections; }
    // Re-reads the store.
    void reload();

    // Adds a custom connection, written on the store's queue. Empty text when
    // it is stored; else the problem: the name or the command line is empty,
    // the command line has no word, a double quote left open, or more than
    // one word (its worker is started with the program alone), or the store
    // cannot be written. Connections
    // stored with arguments before are kept; they start their first word.
    QCoro::Task<QString> add(QString name, QString command);
    // Removes a connection, ending its workers first. Empty text when it is
    // gone; else the problem.
    QCoro::Task<QString> remove(QUuid id);

    // Whether there is a selected workspace to start workers in.
    bool canLaunch() const { return m_selected().has_value(); }
    void launchAdvanced(const QUuid& id);
    void stopAdvanced(const QUuid& id);
    // Its worker runs in the selected workspace.
    bool isAdvancedRunning(const QUuid& id) const;
    // The name of the other connection whose worker runs in the selected
    // workspace, which starting this one would stop; none when there is none.
    std::optional<QString> wouldStop(const QUuid& id) const;

    // Whether a connection can start, and which worker is its own, follow the
    // selected workspace: the owner calls this when the selection, or the
    // workspaces it is taken from, may have changed; `changed` follows when
    // the selected workspace is another one.
    void selectionChanged();

signals:
    void changed();

private:
    std::optional<AdvancedConnection> find(const QUuid& id) const;
    std::optional<QString> selectedWorkspace() const;
    void apply(const QList<AdvancedConnection>& loaded);
    // Runs `write` on the store's queue and applies the list as it then stands;
    // empty text, or `failure` followed by the store's error.
    QCoro::Task<QString> changeStore(std::function<bool(QString*)> write, QString failure);

    RuntimeController& m_runtimes;
    SelectedConfig m_selected;
    QList<AdvancedConnection> m_connections;
    // Workspace id → the connection last launched there.
    QHash<QString, QUuid> m_launched;
    // The selected workspace's id as last published (none: no workspace).
    std::optional<QString> m_workspace;
};
