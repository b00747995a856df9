#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/RuntimeLaunch.h"
#include "core/providers/ProviderProfile.h"
#include "core/providers/RuntimeSetupInfo.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

class QProcess;

// Supervises the runtime workers the application starts: the companion tool
// with "run" in a workspace folder, at most one per workspace and runtime
// kind, each recorded in the child ledger until it ends or is stopped. Keeps
// the last 200 output lines of each. Lives on the GUI thread.
class RuntimeController : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 200;
    static constexpr double kStopGraceSeconds = 5.0;

    explicit RuntimeController(QObject* parent = nullptr);
    ~RuntimeController() override;

    // The application's one controller, created on first use.
    static RuntimeController& shared();

    // Starts a worker unless one is held for the workspace and kind. The setup
    // contract and the bound profile only shape the launch environment.
    // Failures become an output line.
    void start(const CLIConfig& config, const RuntimeLaunch& launch, const std::optional<RuntimeSetupInfo>& setup,
        const std::optional<ProviderProfile>& profile);
    // SIGTERM, then SIGKILL if the worker is still there after the grace;
    // returns when it is gone or killed.
    void stop(const QString& workspace, const QString& kind);
    // Stops every worker; each gets the grace, all at once.
    void stopAll();
    bool isRunning(const QString& workspace, const QString& kind) const;
    // The retained lines of every kind seen in the workspace, kinds in
    // ascending order, lines in arrival order.
    QStringList lines(const QString& workspace) const;

    // Bumped by one on every change.
    qint64 revision() const { return m_revision; }

    // Tests shorten the grace.
    void setStopGraceSeconds(double seconds) { m_grace = seconds; }

signals:
    void changed();

private:
    static QString key(const QString& workspace, const QString& kind) { return workspace + QLatin1Char(':') + kind; }
    void bump();
    void append(const QString& key, const QString& line);
    // Ends a worker this controller started: its own exit handler is detached
    // first, then SIGTERM and the process's own wait, then SIGKILL.
    void terminateAll(const QList<QProcess*>& children);

    qint64 m_revision = 0;
    QHash<QString, QProcess*> m_processes;
    QHash<QString, QStringList> m_output;
    QHash<QString, QSet<QString>> m_kindsSeen;
    double m_grace = kStopGraceSeconds;
};
