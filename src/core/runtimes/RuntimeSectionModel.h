#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/platform/SerialFileWriter.h"
#include "core/runtimes/RuntimeCardActions.h"
#include "core/runtimes/RuntimeCardState.h"
#include "core/runtimes/RuntimeLogin.h"
#include "core/runtimes/RuntimeRow.h"
#include "core/runtimes/RuntimeServing.h"

#include <QCoroTask>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

class AdvancedAccess;
class PendingCall;
class RuntimeController;
class RuntimeEnablement;
class RuntimeInventoryStore;
class WorkspaceCatalog;

// The main window's runtime section without its widgets: the values it shows,
// derived once per change of the window's stores and shared by the section
// on each page, the cards' actions, and the action table it keeps current.
class RuntimeSectionModel : public QObject {
    Q_OBJECT
public:
    static constexpr int kLogLines = 40;

    // The window's stores the section reads and drives.
    struct Stores {
        RuntimeController* runtimes = nullptr;
        RuntimeInventoryStore* inventory = nullptr;
        RuntimeEnablement* enablement = nullptr;
        WorkspaceCatalog* catalog = nullptr;
    };

    // `advanced` is the custom connections' model the section shows below the
    // cards; this model only hands it on.
    RuntimeSectionModel(const Stores& stores, AdvancedAccess* advanced, QObject* parent = nullptr);

    // --- what the section shows -------------------------------------------
    QList<RuntimeRow> rows() const;
    bool loading() const;
    std::optional<QString> failure() const;
    std::optional<QString> countLine() const;
    // The rows that get a card, and each card's state by kind.
    QList<RuntimeRow> plainRuntimeRows() const;
    RuntimeCardState cardState(const RuntimeRow& row) const;
    // The last lines of the selected workspace's workers; empty without one.
    QStringList logLines() const;
    // The work each runtime kind serves: the workforce's serving map, handed
    // in by the window whenever it changes.
    void setRuntimeServing(const QHash<QString, QList<RuntimeServing>>& serving);

    AdvancedAccess* advanced() const { return m_advanced; }

    // --- what the section does ----------------------------------------------
    // The section came on screen: loads the inventory if it has no rows yet,
    // re-reads the enabled flags and rewrites the action table.
    void sectionShown();
    // "重新检测".
    void refresh();
    // A card's button (the model button and the uninstall confirmation belong
    // to the card's view; see confirmUninstall()).
    void perform(const QString& kind, RuntimeCardActions::Action action);
    // The confirmed uninstall: the command goes to a terminal, where it waits
    // for the user's Enter.
    void confirmUninstall(const QString& kind);
    // The provider sheet of `kind` has finished: its message (if any) as a
    // notice, an error one when it tells of a failure, then the stores
    // re-read the keys, profiles and bindings.
    void credentialsChanged(const QString& kind, const std::optional<QString>& message, bool problem);
    // The text "复制诊断信息" copies, and the notice that follows it.
    QString diagnosticsText(const QString& kind) const;
    void notifyCopied(const QString& kind);
    // Rewrites the action table when it differs from the last one written.
    void dumpRuntimeActions(bool force = false);

signals:
    // The rows, cards, header or counts changed.
    void changed();
    // The output log changed.
    void logChanged();
    // A notice for the window: what an action did, or why it could not.
    void notice(const QString& text, bool isError);

private:
    struct Derived {
        QList<RuntimeRow> plainRows;
    };
    const Derived& derived() const;
    // The stores are still there.
    bool live() const;
    std::optional<CLIConfig> selectedConfig() const;
    std::optional<RuntimeRow> row(const QString& kind) const;
    void invalidate();
    void onInventoryChanged();
    // What the card says of the selected workspace's worker of this runtime
    // when no action of the card has spoken since: it ended at once, or the
    // ledger could not record it.
    std::optional<RuntimeNotice> workerNote(const QString& workspace, const RuntimeRow& row) const;
    // What an action on `kind` came to: the window's notice, and the card's
    // line beside its buttons until its next action is pressed.
    void say(const QString& kind, const RuntimeNotice& said);
    // Opens `command` in a terminal and says `sent` (when not empty); when no
    // terminal starts, the notice gives the line to run by hand.
    void sendToTerminal(const QString& kind, const QStringList& command, const std::optional<QString>& cwd,
        const QString& sent, RuntimeLogin::Start start = RuntimeLogin::Start::now);
    // A start pressed on a card that failed (the companion tool missing, say) is said on its card.
    void noteStartFailure(const QString& workspace, const QString& kind, const QString& line);
    QCoro::Task<> setEnabled(RuntimeRow row, bool enabled);
    QCoro::Task<> checkKeys();

    QPointer<RuntimeController> m_runtimes;
    QPointer<RuntimeInventoryStore> m_inventory;
    QPointer<RuntimeEnablement> m_enablement;
    QPointer<WorkspaceCatalog> m_catalog;
    AdvancedAccess* m_advanced;
    QHash<QString, QList<RuntimeServing>> m_serving;
    PendingCall* m_publish;
    mutable std::optional<Derived> m_derived;
    QList<QUuid> m_profileIDs;
    QSet<QUuid> m_keyed;
    // Runtime kind → what its card's last action came to.
    QHash<QString, RuntimeNotice> m_outcomes;
    // Runtime kind → the workspace its card's 启动 was pressed for, until
    // that start fails or the card's next action.
    QHash<QString, QString> m_starting;
    // Runtime kinds whose enabled flag is being written: one press, one write.
    QSet<QString> m_switching;
    bool m_keysKnown = false;
    quint64 m_keyGeneration = 0;
    std::optional<QJsonObject> m_lastTable;
    // The action table's file: replaced (and synced to disk) off the GUI thread.
    SerialFileWriter m_actionsFile;
};
