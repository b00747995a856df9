#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/platform/SerialFileWriter.h"
#include "core/platform/Settings.h"
#include "core/workspaces/WorkspaceRecord.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace NetworkAccess {
class Manager;
}

// The workspaces paired on this machine, the one the user is looking at, and
// the phone pairing link. Built from the pairing files the companion tool
// writes under ~/.tolvarine-protected and ~/.tolvarine (never written here).
// Lives on the GUI thread.
class WorkspaceCatalog : public QObject {
    Q_OBJECT
public:
    // The user default that remembers the selection.
    static constexpr const char* kSelectionKey = Settings::workspaceSelection.key;
    // How long a synchronising reload waits for the tool's `workspaces`.
    static constexpr std::chrono::milliseconds kSyncTimeLimit { std::chrono::seconds(20) };
    // The pairing request as a whole, and its reply's size.
    static constexpr int kPairTimeoutMs = 8000;
    static constexpr qint64 kPairReplyMaxBytes = 1024 * 1024;

    explicit WorkspaceCatalog(QObject* parent = nullptr);

    // Every paired workspace, sorted by display name.
    const QList<WorkspaceRecord>& records() const { return m_records; }
    const QString& selectedID() const { return m_selectedID; }
    // Every assignment is remembered in the user default, also an unchanged one.
    void setSelectedID(const QString& id);
    // The selected record, else the first, else none.
    std::optional<WorkspaceRecord> selected() const;

    // The gateway origin a phone on the network can reach (from the status
    // model), found for the gateway address `api` (a pairing file's "api";
    // empty: the address of the configuration the link is built for).
    const std::optional<QString>& publishEndpoint() const { return m_publishEndpoint; }
    void setPublishEndpoint(const std::optional<QString>& endpoint, const QString& api = QString());

    const std::optional<QString>& pairLink() const { return m_pairLink; }
    const std::optional<QString>& pairLinkError() const { return m_pairLinkError; }
    const std::optional<QDateTime>& pairLinkExpiresAt() const { return m_pairLinkExpiresAt; }
    // The link's gateway address is one only this machine reaches (127.0.0.1,
    // localhost): no phone can use it.
    bool pairLinkLoopback() const { return m_pairLinkLoopback; }

    // A paired workspace a phone pairing code leaves out, and why.
    struct LeftOut {
        WorkspaceRecord record;
        QString reason;
        bool operator==(const LeftOut&) const = default;
    };
    // The workspaces the published link carries, in display order, and those
    // it leaves out; both empty while no link is published.
    const QList<WorkspaceRecord>& pairLinkWorkspaces() const { return m_pairLinkWorkspaces; }
    const QList<LeftOut>& pairLinkLeftOut() const { return m_pairLinkLeftOut; }

    // Which workspaces a code asked for now would carry: those on the selected
    // workspace's gateway (also when paired by the address a phone reaches it
    // at); the others are on another gateway and left out.
    struct PairScope {
        QList<WorkspaceRecord> carried;
        QList<WorkspaceRecord> otherGateway;
    };
    PairScope pairScope() const;

    // A reload has finished (the records are the files' once it has).
    bool loaded() const { return m_loaded; }
    // Whether the pairing files hold at least one workspace now, read without
    // changing anything here: the page the window opens on before its first
    // load, which waits for the companion tool, has finished.
    static bool anyPaired();
    // Whether an entry of a pairing folder's "workspaces" folder is taken for
    // a pairing file, by its name.
    static bool isPairingFile(const QString& fileName);

    // Rebuilds the records from the files and settles the selection. With
    // `syncCurrent` the companion tool's `workspaces` runs first (off the GUI
    // thread, time-limited; its outcome is ignored). The pairing files and the
    // stored selection are read off the GUI thread and applied when the task
    // ends, unless a later reload has started reading meanwhile: the latest
    // read wins, an older one is dropped.
    QCoro::Task<> reload(bool syncCurrent);

    // A reload is settling the selection after re-reading the files: a change
    // of selection now is the catalogue's own, not a user's pick.
    bool settling() const { return m_settling; }

    // Asks the selected workspace's gateway for a phone pairing link for every
    // workspace paired with it; one the gateway refuses is left out, and the
    // others still pair. The latest call wins: true when this call's outcome
    // is the one published, false when a later call started before its reply came.
    QCoro::Task<bool> refreshPairLink();

    // The phone link for a pair token.
    static QString buildPairLink(const QString& deviceId, const QString& origin, const QString& pairToken);

    // Lets tests stand in the machine's network host name (the ".local" origin).
    void setHostNameForTesting(const QString& hostName) { m_hostName = hostName; }
    // Lets tests shorten the synchronising run's time limit.
    void setSyncTimeLimitForTesting(std::chrono::milliseconds limit) { m_syncTimeLimit = limit; }
    // Lets tests see (and hold) a reload's read: runs where the files were
    // read, after reading them.
    void setReadHookForTesting(std::function<void()> hook) { m_readHook = std::move(hook); }

signals:
    void recordsChanged();
    void selectionChanged();
    void pairLinkChanged(); // pairLink, pairLinkError, pairLinkExpiresAt, pairLinkLoopback

private:
    // What one reload reads from disk.
    struct FileRead {
        // Every decodable pairing file by workspace id (the current one over the rest).
        QMap<QString, CLIConfig> byID;
        std::optional<CLIConfig> current;
        QString storedSelection; // filled by the reload
    };
    // The pairing files; blocks.
    static FileRead readFiles();
    // Each decodable pairing file, folder by folder, until `take` answers false; blocks.
    static void readPairingFiles(const std::function<bool(const CLIConfig&)>& take);
    // The workspaces on the gateway at `api`, or at `origin` when not empty.
    PairScope pairScope(const QString& api, const QString& origin) const;
    // The published endpoint when it was found for the gateway at `api`.
    std::optional<QString> endpointFor(const QString& api) const;
    void apply(const FileRead& read);
    // Selects `id`; with `store`, it becomes the stored choice too.
    void select(const QString& id, bool store);
    void failPairLink(const QString& text);

    QList<WorkspaceRecord> m_records;
    bool m_loaded = false;
    bool m_settling = false;
    QString m_selectedID;
    // The selection that was missing at the latest read (a tool may be
    // rewriting its pairing file in place): another workspace stands in, and
    // this one is selected again when the next read finds it. Missing at two
    // reads in a row, it is gone.
    std::optional<QString> m_heldSelection;
    std::optional<QString> m_publishEndpoint;
    QString m_publishEndpointApi;
    std::optional<QString> m_pairLink;
    std::optional<QString> m_pairLinkError;
    std::optional<QDateTime> m_pairLinkExpiresAt;
    QList<WorkspaceRecord> m_pairLinkWorkspaces;
    QList<LeftOut> m_pairLinkLeftOut;
    bool m_pairLinkLoopback = false;
    quint64 m_pairLinkGeneration = 0;
    quint64 m_reloadGeneration = 0;
    std::optional<QString> m_hostName;
    std::chrono::milliseconds m_syncTimeLimit = kSyncTimeLimit;
    NetworkAccess::Manager* m_nam;
    std::function<void()> m_readHook;
    // The stored choice: as the latest reload read it, or as last handed to
    // m_selectionStore when that is newer; unknown before the first reload.
    std::optional<QString> m_storedSelection;
    // Choices handed to m_selectionStore so far.
    quint64 m_selectionWrites = 0;
    // Storing the choice locks and syncs the settings file: it is done off
    // the GUI thread, in order, the latest choice last. Its file is the one
    // a reload reads the choice from.
    SerialFileWriter m_selectionStore;
};
