#pragma once

#include "core/gateway/CLI.h"
#include "core/gateway/CLIConfig.h"
#include "core/gateway/RuntimeLaunch.h"
#include "core/providers/ProviderProfile.h"
#include "core/providers/RuntimeSetupInfo.h"

#include <QCoroTask>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFuture>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

class QProcess;

// Supervises the runtime workers the application starts: the companion tool
// with "run" in a workspace folder, at most one per workspace and runtime
// kind, each recorded in the child ledger until it ends. Keeps the last 200
// output lines of each. Lives on the GUI thread and never waits there: keys,
// the executable and the launch environment are gathered off it, a worker is
// taken as started once the platform says so, the ledger is written by its own
// writer, and a stop signals the worker and returns.
class RuntimeController : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 200;
    static constexpr double kStopGraceSeconds = 5.0;
    // A worker that ends by itself this soon after its start did not get going.
    static constexpr int kEarlyEndMs = 5000;

    // How a worker that did not get going ended.
    struct EarlyEnd {
        // The exit status, or the signal that ended it.
        int status = 0;
        bool signalled = false;
        // Its last output line as the log shows it (masked and cut), without the
        // runtime's name; empty when it printed nothing.
        QString lastLine;

        bool operator==(const EarlyEnd&) const = default;
    };

    explicit RuntimeController(QObject* parent = nullptr);
    // Stops every worker and waits for them (see waitForStopped()).
    ~RuntimeController() override;

    // The application's one controller, created on first use.
    static RuntimeController& shared();

    // Holds the workspace and kind at once (isRunning() is true from here)
    // unless they are held already; the worker starts once its launch has been
    // prepared (keys, executable, environment), the previous worker of the
    // same pair, if it is still stopping, has ended, and its ledger record is
    // on disk (or could not be written: see unrecorded()), so that it never
    // runs unrecorded past a crash of the application. The setup contract and the
    // bound profile only shape the launch environment. Failures become an
    // output line.
    void start(const CLIConfig& config, const RuntimeLaunch& launch, const std::optional<RuntimeSetupInfo>& setup,
        const std::optional<ProviderProfile>& profile);
    // Releases the pair and sends SIGTERM to the worker and whatever it
    // started (its process group), and to whatever carries its launch mark
    // outside that group with the rest of such a process's group; SIGKILL
    // follows for whatever is still there after the grace. Returns at once; the ledger forgets the
    // worker once it has ended. A start still preparing is dropped.
    void stop(const QString& workspace, const QString& kind);
    // Stops every worker; each gets the grace, all at once. What earlyEnd()
    // said goes too.
    void stopAll();
    // Blocks until every worker being stopped has ended, and what it started
    // with it, killing whatever outlives its grace (a killed worker gets one
    // more second), and until the ledger has been written. For quitting only:
    // the GUI thread waits here.
    void waitForStopped();
    // From now on the workers' output is read and dropped: the process is
    // ending through exit(), and what shapes a line (masks, filters) may be
    // gone with the statics already torn down.
    void dropOutput() { m_outputDropped = true; }
    bool isRunning(const QString& workspace, const QString& kind) const;
    // Workers signalled to stop that have not ended yet.
    int stoppingCount() const { return int(m_stopping.size()); }
    // The retained lines of every kind seen in the workspace, kinds in
    // ascending order, lines in arrival order.
    QStringList lines(const QString& workspace) const;
    // The pair's last worker ended by itself within kEarlyEndMs of its start;
    // none from the pair's next start (or stopAll()) on.
    std::optional<EarlyEnd> earlyEnd(const QString& workspace, const QString& kind) const;
    // Why the ledger could not record the pair's running worker: a crash of
    // the application would leave it running for no one to end.
    std::optional<QString> unrecorded(const QString& workspace, const QString& kind) const;

    // Bumped by one on every change of either kind below.
    qint64 revision() const { return m_revision; }

    // Tests shorten the grace.
    void setStopGraceSeconds(double seconds) { m_grace = seconds; }

signals:
    // The set of held workspace and kind pairs changed (a start, a stop, a
    // worker that ended by itself).
    void workersChanged();
    // A line was added to the workspace's output.
    void outputChanged(const QString& workspace);
    // A worker of this kind could not be started; `line` is what the output says of it.
    void startFailed(const QString& workspace, const QString& kind, const QString& line);

private:
    // What the pool gathered for a launch.
    struct Prepared {
        QMap<QString, QString> keys; // the key variables given to the worker
        CLI::Launchable launchable;
    };
    struct Pending {
        quint64 ticket = 0;
        CLIConfig config;
        RuntimeLaunch launch;
        std::optional<RuntimeSetupInfo> setup;
        // None while the launch is being prepared.
        std::optional<Prepared> prepared;
        // The worker's launch mark, from when its record is handed to the ledger.
        QString mark;
    };
    // What the controller keeps of one started worker.
    struct Worker {
        QString kind;
        QString mark;
        QElapsedTimer since;
        QString lastLine;
    };
    struct Stopping {
        QString key;
        qint32 pid = 0;
        QDeadlineTimer killAt;
        // The worker leads a process group of its own, signalled with it.
        bool group = false;
        // Whose end the ledger record waits for (the worker's and the ending of
        // what carries its mark elsewhere); none when only the worker's.
        std::shared_ptr<std::atomic<int>> holds;
    };

    static QString key(const QString& workspace, const QString& kind) { return workspace + QLatin1Char(':') + kind; }
    void workersBump();
    void append(const QString& workspace, const QString& key, const QString& line);
    QCoro::Task<> prepare(QString key, quint64 ticket, std::optional<ProviderProfile> profile);
    // Starts the pending worker of `key` once its launch is prepared and no
    // earlier worker of the pair is still stopping.
    void launchIfReady(const QString& key);
    // Starts the worker once the ledger holds its record.
    QCoro::Task<> recordThenSpawn(QString key, quint64 ticket);
    void spawn(const QString& key, const Pending& pending, const std::optional<QString>& unrecorded);
    void onStarted(QProcess* process, const QString& workspace, const Worker& worker);
    void onFailedToStart(
        const QString& key, QProcess* process, const QString& workspace, const QString& display, const Worker& worker);
    void onFinished(const QString& key, QProcess* process, qint32 pid, const Worker& worker);
    // Drops a start that has not spawned its worker yet.
    void dropPending(const QString& key);
    void beginStop(QProcess* process, const QString& key);
    void kill(QProcess* process);
    // SIGKILL to what is left of a stopped worker's group once its grace is over.
    void endLeftGroup(qint32 pgid);

    qint64 m_revision = 0;
    quint64 m_tickets = 0;
    QHash<QString, QProcess*> m_processes;
    QHash<QString, Pending> m_pending;
    QHash<QProcess*, Stopping> m_stopping;
    // Groups of stopped workers that had ended before their grace was over,
    // by group id: what they started may still be ending.
    QHash<qint32, QDeadlineTimer> m_leftGroups;
    // The endings of what stopped workers' marks name outside their groups.
    QList<QFuture<void>> m_sweeps;
    QHash<QString, QStringList> m_output;
    QHash<QString, QSet<QString>> m_kindsSeen;
    QHash<QString, EarlyEnd> m_earlyEnds;
    QHash<QString, QString> m_unrecorded;
    double m_grace = kStopGraceSeconds;
    bool m_outputDropped = false;
};
