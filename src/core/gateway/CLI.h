#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/RuntimeLaunch.h"
#include "core/platform/JsonFile.h"
#include "core/platform/ProcessGroup.h"

#include <QCoroTask>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The one way the application finds the companion tool `brenlow` and starts it.
// Every child gets the prepared environment (widened PATH, the workspace and
// runtime variables), standard output and standard error joined on one pipe,
// and standard input from the null device. No shell is involved. A one-shot
// run's child leads a process group of its own, ended as a whole when the run
// times out, is cancelled or the application quits (ProcessGroup).
class CLI {
public:
    CLI() = delete;

    // The executable names tried, in this order.
    static const QStringList& binaryNames();

    // No executable of the companion tool was found.
    struct NotFound {
        // The one-line install command quoted in the description.
        static QString installCommand();
        static QString description();
    };

    enum class Failure {
        None,
        NotFound, // no executable found (description: NotFound::description())
        CouldNotStart, // the platform refused to start it (description: the platform's text)
        TimedOut, // still running at the time limit; its group was ended (ProcessGroup)
        Cancelled, // its owner went away or the application is quitting; its group was ended
    };

    struct Result {
        // Exit status; for a child ended by a signal, the signal number. -1 on any failure.
        int code = -1;
        // Standard output and standard error as the child wrote them, decoded as
        // UTF-8 with replacement characters; the first kMaxOutputBytes of them.
        QString out;
        // The child wrote more than kMaxOutputBytes: `out` is only the start.
        bool outputCut = false;
        Failure failure = Failure::None;
        // The user-facing text of the failure; empty when there is none.
        QString error;

        bool failed() const { return failure != Failure::None; }
    };

    struct Spawned {
        // The running child; the caller owns it, waits for it or stops it. Null on failure.
        std::unique_ptr<QProcess> process;
        Failure failure = Failure::None;
        QString error;
    };

    // What a run keeps of a child's output: no answer of the tool comes near
    // it, and a child that never stops writing cannot fill the memory.
    static constexpr qint64 kMaxOutputBytes = JsonFile::kMaxStoredBytes;

    // Long enough for any command the tool answers; a run still going by then
    // is taken as hung.
    static constexpr std::chrono::milliseconds defaultTimeLimit { std::chrono::seconds(120) };
    // The one-time query of the login shell's PATH.
    static constexpr std::chrono::milliseconds loginShellTimeLimit { std::chrono::seconds(10) };

    // The tool's executable, searched anew on every call: for each name in turn,
    // the application's own folder first, then five fixed folders.
    static std::optional<QString> locate();
    // locate() with the application folder and the home folder given.
    static std::optional<QString> locateIn(const QString& appDir, const QString& home);

    // Runs the tool and blocks until it has exited and its output is drained
    // (a background process that keeps the output open does not hold the run).
    // Never call it on the GUI thread; use runAsync() or CLIAsync::run there.
    // A non-zero exit status is not a failure here. `group`, when given, lets
    // its owner cancel the run (ProcessGroup::Scope); one is made otherwise.
    static Result run(const QStringList& args, const std::optional<QString>& cwd = std::nullopt,
        const std::optional<CLIConfig>& config = std::nullopt,
        const std::optional<RuntimeLaunch>& runtime = std::nullopt,
        std::chrono::milliseconds timeLimit = defaultTimeLimit, std::shared_ptr<ProcessGroup> group = {});

    // run() on the off-main pool, awaited: the calling thread keeps its event
    // loop. When `owner` is destroyed before the run ends, the run's process
    // group is ended and the result is Cancelled.
    static QCoro::Task<Result> runAsync(QStringList args, std::optional<QString> cwd = std::nullopt,
        std::optional<CLIConfig> config = std::nullopt, std::optional<RuntimeLaunch> runtime = std::nullopt,
        std::chrono::milliseconds timeLimit = defaultTimeLimit, const QObject* owner = nullptr);

    // Starts the tool, as the leader of a process group of its own (see
    // ProcessGroup), and waits until it has started: prepareLaunch() and
    // childOf() in one, for a thread that may wait. `extraEnv` is written over
    // the prepared environment (it wins over PATH and the product variables
    // alike). Each non-empty output line is handed to `onLine` on the thread
    // that called spawn (its event loop delivers them); the last, unterminated
    // line comes at the end of the stream, before the process's finished()
    // reaches the caller's own connections. `onLine` must not delete the
    // process (use deleteLater).
    static Spawned spawn(const QStringList& args, const std::optional<QString>& cwd,
        const std::optional<CLIConfig>& config, const std::optional<RuntimeLaunch>& runtime,
        const QHash<QString, QString>& extraEnv, std::function<void(const QString&)> onLine);

    // What starting the tool takes from the disk and the login shell: where
    // its executable is and the child's environment, with `extraEnv` written
    // over it. Blocks (the first time for up to loginShellTimeLimit): gather it
    // off the GUI thread.
    struct Launchable {
        // None when no executable of the tool was found.
        std::optional<QString> exe;
        QProcessEnvironment env;
    };
    static Launchable prepareLaunch(const std::optional<CLIConfig>& config, const std::optional<RuntimeLaunch>& runtime,
        const QHash<QString, QString>& extraEnv);
    // The child of a prepared launch, set up as spawn() sets it up but not
    // started, so that the GUI thread can connect to its started() and
    // errorOccurred() and then start() it without waiting. No process (and
    // NotFound) when there was no executable.
    static Spawned childOf(const Launchable& launchable, const QStringList& args, const std::optional<QString>& cwd,
        std::function<void(const QString&)> onLine);

    // The environment of a child: this process's environment with PATH widened,
    // TOLVARINE_FRONTEND, and the workspace and runtime variables when given.
    static QProcessEnvironment environment(
        const std::optional<CLIConfig>& config, const std::optional<RuntimeLaunch>& runtime);

    // The PATH given to every child, computed once per process (the first caller
    // waits for the login shell, up to loginShellTimeLimit).
    static QString augmentedPath();
    // Starts that one-time computation on the off-main pool, so that a later
    // spawn on the GUI thread does not wait for the login shell.
    static void warmUp();
    // The computation itself: the own PATH, then the login shell's (when `shell`
    // is not empty), then well-known folders; each entry once, in that order.
    static QString buildAugmentedPath(const QString& ownPath, const QString& shell, const QString& home,
        std::chrono::milliseconds shellTimeLimit = loginShellTimeLimit);

    // Whether a line of the tool's output (trimmed) warns of a step it could
    // not take: a run may end well and still have done only part of its work.
    static bool isWarning(const QString& line);

    // The text of a run that hit its time limit.
    static QString timedOutText(const QStringList& args, std::chrono::milliseconds timeLimit);
    // The text of a run ended before it finished.
    static QString cancelledText(const QStringList& args);
    // The text of a run whose output went past kMaxOutputBytes: only its start
    // was kept, so it is no answer to read.
    static QString outputCutText(const QStringList& args);
};
