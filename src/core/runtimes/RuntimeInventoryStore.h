#pragma once

#include "core/providers/ProviderProfile.h"
#include "core/providers/RuntimeSetupInfo.h"
#include "core/runtimes/RuntimeRow.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPromise>
#include <QSet>
#include <QString>
#include <QUuid>

#include <chrono>
#include <memory>
#include <optional>

class ProcessGroup;

// The runtime section's model: runs `brenlow runtimes --json` and reads the
// key store off the GUI thread, publishes one row per runtime, the setup
// contracts, the providers with a stored key, the provider profiles and the
// bindings, and writes the two snapshot files of what it read.
class RuntimeInventoryStore : public QObject {
    Q_OBJECT
public:
    explicit RuntimeInventoryStore(QObject* parent = nullptr);

    QList<RuntimeRow> rows() const { return m_rows; }
    QMap<QString, qint64> counts() const { return m_counts; }
    bool loading() const { return m_loading; }
    std::optional<QString> failure() const { return m_failure; }
    // The last refresh found no companion tool to run.
    bool toolMissing() const { return m_toolMissing; }
    // Refreshes started so far, and which of them the rows come from.
    quint64 runsStarted() const { return m_runsStarted; }
    quint64 runApplied() const { return m_runApplied; }
    std::optional<QDateTime> stamp() const { return m_stamp; }
    QMap<QString, RuntimeSetupInfo> setup() const { return m_setup; }
    QSet<QString> configured() const { return m_configured; }
    QList<ProviderProfile> profiles() const { return m_profiles; }
    QMap<QString, QUuid> bindings() const { return m_bindings; }

    // Starts one refresh unless one is in flight; returns at once.
    void refresh();
    // The profile bound to a runtime kind, if any.
    std::optional<ProviderProfile> profile(const QString& kind) const;
    // Reloads profiles and bindings, then (once the key store answers)
    // recomputes the configured providers, migrates legacy keys and reloads
    // them again.
    QCoro::Task<> refreshConfigured();

    // Snapshot writers (in ~/.tolvarine, replaced atomically).
    static void dumpRaw(const QString& report);
    static void dumpForAcceptance(const QList<RuntimeRow>& rows);
    static QString rawSnapshotPath();
    static QString snapshotPath();

    // "brenlow runtimes --json 退出码 N：" + the first 400 characters of the output.
    static QString cliFailedText(int code, const QString& text);
    // A report longer than what a run keeps of its output (CLI::kMaxOutputBytes).
    static QString tooLongText();

    // Tests shorten the tool's time limit.
    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }

signals:
    void changed();
    // A refresh's report (or its failure) has been applied: the rows are
    // current. What the key store says may still follow.
    void reportApplied();
    // A refresh has been applied (successfully or not), down to what the key
    // store says.
    void refreshed();

private:
    struct Outcome {
        std::optional<QList<RuntimeEntry>> entries;
        QMap<QString, qint64> counts;
        QList<RuntimeSetupInfo> setup;
        QString failure;
        bool toolMissing = false;
    };
    // What the profile files say.
    struct Profiles {
        QList<ProviderProfile> profiles;
        QMap<QString, QUuid> bindings;
    };
    // What the key store and the profile files say for a set of setup contracts.
    struct Credentials {
        QSet<QString> configured;
        std::optional<Profiles> profiles; // read again when the migration changed them
    };
    static Outcome fetch(std::chrono::milliseconds timeLimit, std::shared_ptr<ProcessGroup> group = {});
    QCoro::Task<> run();
    void apply(const Outcome& outcome);
    void applySetup(const QList<RuntimeSetupInfo>& setup);
    void applyProfiles(const Profiles& read);
    // Profiles and bindings, pruned, off the GUI thread; never waits on the key store.
    QCoro::Task<> loadProfiles();
    // On the key store's queue, so that two migrations never run at once.
    // While one pass waits there (the store may wait on a prompt), the
    // requests that come join the one pass that follows it: a held store
    // never gathers a backlog, and a keyed start queued meanwhile waits for
    // one pass at most. Returns once a pass begun after the request is in.
    QCoro::Task<> loadCredentials();
    // One pass, then the one asked for meanwhile, if any.
    QCoro::Task<> credentialPasses(std::shared_ptr<QPromise<void>> done);
    static Profiles readProfiles();
    // Blocking: the Secret Service may wait on a prompt or a stalled daemon.
    static Credentials readCredentials(const QMap<QString, RuntimeSetupInfo>& setup);
    // True when it moved a key under a new profile (the stores changed).
    static bool migrateLegacyCredentialsIfNeeded(const QMap<QString, RuntimeSetupInfo>& setup);
    static QString friendlyProviderName(const QMap<QString, RuntimeSetupInfo>& setup, const QString& provider);

    QList<RuntimeRow> m_rows;
    QMap<QString, qint64> m_counts;
    bool m_loading = false;
    std::optional<QString> m_failure;
    bool m_toolMissing = false;
    std::optional<QDateTime> m_stamp;
    QMap<QString, RuntimeSetupInfo> m_setup;
    QSet<QString> m_configured;
    bool m_running = false;
    quint64 m_runsStarted = 0;
    quint64 m_runApplied = 0;
    QList<ProviderProfile> m_profiles;
    QMap<QString, QUuid> m_bindings;
    // A credential pass is on the key store's queue.
    bool m_credentialPass = false;
    // Finished once the pass that follows it is in; none when none was asked for.
    std::shared_ptr<QPromise<void>> m_nextCredentialPass;
    std::chrono::milliseconds m_timeLimit { std::chrono::seconds(60) };
};
