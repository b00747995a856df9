#include "core/gateway/CLI.h"

#include "core/gateway/LineSplitter.h"
#include "core/platform/OffMainThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QThread>

#include <algorithm>

namespace {

// How long to wait for the platform to confirm that a child started.
constexpr int kStartWaitMs = 10000;
// How long a killed child may take to be reaped.
constexpr int kKillWaitMs = 5000;

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

void prepare(QProcess& p, const QString& exe, const QStringList& args, const std::optional<QString>& cwd,
    const QProcessEnvironment& env)
{
    p.setProgram(exe);
    p.setArguments(args);
    if (cwd)
        p.setWorkingDirectory(*cwd);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardInputFile(QProcess::nullDevice());
}

int exitStatus(const QProcess& p)
{
    // On a crash Qt reports the terminating signal's number as the exit code.
    return p.exitCode();
}

enum class Ending { Exited, CouldNotStart, TimedOut, Cancelled };

// What a child wrote, up to CLI::kMaxOutputBytes; what comes after is read and dropped.
struct Output {
    QByteArray bytes;
    bool cut = false;

    void take(QProcess& p)
    {
        const QByteArray chunk = p.readAll();
        const qsizetype room = qsizetype(CLI::kMaxOutputBytes) - bytes.size();
        if (chunk.size() > room) {
            bytes.append(chunk.left(room));
            cut = true;
        } else {
            bytes.append(chunk);
        }
    }
};

// Waits for `p` to exit until `until` is over or its group is asked to end
// (checked every tenth of a second), taking its output as it comes; true
// once it has exited.
bool waitForExit(QProcess& p, const ProcessGroup& group, const QDeadlineTimer& until, Output& output)
{
    while (p.state() != QProcess::NotRunning) {
        if (group.cancelled() || until.hasExpired())
            return false;
        const qint64 left = until.remainingTime();
        p.waitForReadyRead(int(left < 0 ? 100 : std::min<qint64>(left, 100)));
        output.take(p);
    }
    return true;
}

// Ends the group `p` leads: SIGTERM to every member, the grace, then SIGKILL
// to whatever of it is left, the leader or what it started. Its output is
// taken meanwhile, so that a child that says why it ends is not held on a full pipe.
void stopGroup(QProcess& p, ProcessGroup& group, pid_t leader, Output& output)
{
    const QDeadlineTimer killAt = group.stop();
    ProcessGroup::awaitEnded({ { leader, true, killAt } }, [&p, &output](int ms) {
        if (p.state() == QProcess::NotRunning) {
            QThread::msleep(ms);
            return;
        }
        p.waitForReadyRead(ms);
        output.take(p);
    });
    p.waitForFinished(kKillWaitMs);
}

// Starts `p` as the leader of `group` and waits until it has exited, at most
// `timeLimit`. A run that times out or is cancelled ends the whole group, so
// nothing the child started outlives it; a child that exits by itself leaves
// its group alone.
Ending runInGroup(QProcess& p, ProcessGroup& group, std::chrono::milliseconds timeLimit, Output& output)
{
    ProcessGroup::prepare(p);
    // An owner gone before the pool got to the run, or an application that
    // is quitting: nothing to start.
    if (!group.start(p))
        return Ending::Cancelled;
    if (!p.waitForStarted(kStartWaitMs)) {
        if (p.state() != QProcess::NotRunning) {
            ProcessGroup::end(pid_t(p.processId()));
            p.kill();
            p.waitForFinished(kKillWaitMs);
        }
        group.leave();
        return Ending::CouldNotStart;
    }
    const auto leader = pid_t(p.processId());
    // The wait ends once the child has exited and what it left in the pipe
    // has been read; it does not wait for end of file, so a grandchild that
    // inherited the pipe cannot hold the run.
    const qint64 limit = std::max<qint64>(timeLimit.count(), 0);
    const bool exited = waitForExit(p, group, QDeadlineTimer(limit), output);
    if (!exited)
        stopGroup(p, group, leader, output);
    group.leave();
    if (group.cancelled())
        return Ending::Cancelled;
    return exited ? Ending::Exited : Ending::TimedOut;
}

} // namespace

const QStringList& CLI::binaryNames()
{
    static const QStringList names { QStringLiteral("brenlow"), QStringLiteral("tolvarine-cli"),
        QStringLiteral("vintrell-cli") };
    return names;
}

QString CLI::NotFound::installCommand()
{
    return QStringLiteral("curl -fsSL https://tolvarine.dev/brenlow/install.sh | sh");
}

QString CLI::NotFound::description()
{
    return QStringLiteral("没找到 Brenlow CLI。在终端里装一次：") + installCommand();
}

std::optional<QString> CLI::locate()
{
    const QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return locateIn(appDir, QDir::homePath());
}

std::optional<QString> CLI::locateIn(const QString& appDir, const QString& home)
{
    const QStringList dirs { home + QStringLiteral("/Codex/Brenlow-Vintrell/bin"), home + QStringLiteral("/.local/bin"),
        QStringLiteral("/usr/local/bin"), QStringLiteral("/opt/homebrew/bin"),
        home + QStringLiteral("/.npm-global/bin") };
    for (const QString& name : binaryNames()) {
        if (!appDir.isEmpty()) {
            const QString own = appDir + QLatin1Char('/') + name;
            if (isExecutableFile(own))
                return own;
        }
        for (const QString& dir : dirs) {
            const QString candidate = dir + QLatin1Char('/') + name;
            if (isExecutableFile(candidate))
                return candidate;
        }
    }
    return std::nullopt;
}

bool CLI::isWarning(const QString& line)
{
    return line.startsWith(QLatin1String("warning"), Qt::CaseInsensitive) || line.startsWith(QStringLiteral("警告"));
}

QString CLI::timedOutText(const QStringList& args, std::chrono::milliseconds timeLimit)
{
    const double seconds = double(timeLimit.count()) / 1000.0;
    return QStringLiteral("brenlow %1 超过 %2 秒还没结束，已经把它停掉了。")
        .arg(args.value(0), QString::number(seconds, 'g', 4));
}

QString CLI::cancelledText(const QStringList& args)
{
    return QStringLiteral("brenlow %1 没等它结束就停掉了。").arg(args.value(0));
}

QString CLI::outputCutText(const QStringList& args)
{
    return QStringLiteral("brenlow %1 输出了 %2 MB 以上，只留下了开头，没有当作回答来读。")
        .arg(args.value(0), QString::number(kMaxOutputBytes / (1024 * 1024)));
}

CLI::Result CLI::run(const QStringList& args, const std::optional<QString>& cwd, const std::optional<CLIConfig>& config,
    const std::optional<RuntimeLaunch>& runtime, std::chrono::milliseconds timeLimit,
    std::shared_ptr<ProcessGroup> group)
{
    Result result;
    const auto exe = locate();
    if (!exe) {
        result.failure = Failure::NotFound;
        result.error = NotFound::description();
        return result;
    }
    if (!group)
        group = std::make_shared<ProcessGroup>();

    QProcess p;
    prepare(p, *exe, args, cwd, environment(config, runtime));
    Output output;
    const Ending ending = runInGroup(p, *group, timeLimit, output);
    if (ending == Ending::CouldNotStart) {
        result.failure = Failure::CouldNotStart;
        result.error = p.errorString();
        return result;
    }
    output.take(p);
    result.out = QString::fromUtf8(output.bytes);
    result.outputCut = output.cut;
    if (ending == Ending::TimedOut) {
        result.failure = Failure::TimedOut;
        result.error = timedOutText(args, timeLimit);
        return result;
    }
    if (ending == Ending::Cancelled) {
        result.failure = Failure::Cancelled;
        result.error = cancelledText(args);
        return result;
    }
    if (p.error() == QProcess::FailedToStart) {
        result.failure = Failure::CouldNotStart;
        result.error = p.errorString();
        return result;
    }
    result.code = exitStatus(p);
    return result;
}

QCoro::Task<CLI::Result> CLI::runAsync(QStringList args, std::optional<QString> cwd, std::optional<CLIConfig> config,
    std::optional<RuntimeLaunch> runtime, std::chrono::milliseconds timeLimit, const QObject* owner)
{
    const ProcessGroup::Scope scope(owner);
    auto job = [args, cwd, config, runtime, timeLimit, group = scope.group()] {
        return CLI::run(args, cwd, config, runtime, timeLimit, group);
    };
    auto task = offMainThread(std::move(job));
    Result result = co_await std::move(task);
    co_return result;
}

CLI::Spawned CLI::spawn(const QStringList& args, const std::optional<QString>& cwd,
    const std::optional<CLIConfig>& config, const std::optional<RuntimeLaunch>& runtime,
    const QHash<QString, QString>& extraEnv, std::function<void(const QString&)> onLine)
{
    Spawned spawned = childOf(prepareLaunch(config, runtime, extraEnv), args, cwd, std::move(onLine));
    if (!spawned.process)
        return spawned;
    QProcess* process = spawned.process.get();
    process->start();
    if (!process->waitForStarted(kStartWaitMs)) {
        spawned.failure = Failure::CouldNotStart;
        spawned.error = process->errorString();
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(kKillWaitMs);
        }
        spawned.process.reset();
    }
    return spawned;
}

CLI::Launchable CLI::prepareLaunch(const std::optional<CLIConfig>& config, const std::optional<RuntimeLaunch>& runtime,
    const QHash<QString, QString>& extraEnv)
{
    Launchable launchable;
    launchable.exe = locate();
    if (!launchable.exe)
        return launchable;
    launchable.env = environment(config, runtime);
    for (auto it = extraEnv.constBegin(); it != extraEnv.constEnd(); ++it)
        launchable.env.insert(it.key(), it.value());
    return launchable;
}

CLI::Spawned CLI::childOf(const Launchable& launchable, const QStringList& args, const std::optional<QString>& cwd,
    std::function<void(const QString&)> onLine)
{
    Spawned spawned;
    if (!launchable.exe) {
        spawned.failure = Failure::NotFound;
        spawned.error = NotFound::description();
        return spawned;
    }

    auto process = std::make_unique<QProcess>();
    prepare(*process, *launchable.exe, args, cwd, launchable.env);
    // A group of its own, so that what the child starts can be ended with it.
    ProcessGroup::prepare(*process);

    // Connected before the caller can connect anything, so that every line,
    // the unterminated last one included, is delivered before the caller's
    // own finished() handlers run.
    auto splitter = std::make_shared<LineSplitter>();
    QProcess* p = process.get();
    auto deliver = [onLine](const QStringList& lines) {
        if (!onLine)
            return;
        for (const QString& line : lines)
            onLine(line);
    };
    QObject::connect(p, &QProcess::readyReadStandardOutput, p,
        [p, splitter, deliver] { deliver(splitter->feed(p->readAllStandardOutput())); });
    QObject::connect(p, &QProcess::finished, p, [p, splitter, deliver] {
        deliver(splitter->feed(p->readAllStandardOutput()));
        deliver(splitter->finish());
    });
    spawned.process = std::move(process);
    return spawned;
}

QProcessEnvironment CLI::environment(
    const std::optional<CLIConfig>& config, const std::optional<RuntimeLaunch>& runtime)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A worker's launch mark is given to that worker alone: an application
    // started from inside a worker's tree does not hand it on.
    env.remove(QStringLiteral("TOLVARINE_LAUNCH"));
    env.insert(QStringLiteral("PATH"), augmentedPath());
    env.insert(QStringLiteral("TOLVARINE_FRONTEND"), QStringLiteral("desktop"));
    if (config) {
        env.insert(QStringLiteral("TOLVARINE_API"), config->api);
        env.insert(QStringLiteral("TOLVARINE_WS"), config->workspace);
        env.insert(QStringLiteral("TOLVARINE_TOKEN"), config->token);
        env.insert(QStringLiteral("TOLVARINE_DEVICE"), config->deviceId());
        if (config->path)
            env.insert(QStringLiteral("TOLVARINE_PATH"), *config->path);
    }
    if (runtime) {
        env.insert(QStringLiteral("TOLVARINE_RUNTIME"), runtime->command);
        env.insert(QStringLiteral("TOLVARINE_RUNTIME_KIND"), runtime->kind);
    }
    return env;
}

QString CLI::augmentedPath()
{
    // A function-local static: concurrent first callers wait for the one computation.
    static const QString path
        = buildAugmentedPath(qEnvironmentVariable("PATH"), qEnvironmentVariable("SHELL"), QDir::homePath());
    return path;
}

void CLI::warmUp()
{
    (void)QtConcurrent::run(offMainThreadPool(), [] { (void)augmentedPath(); });
}

QString CLI::buildAugmentedPath(
    const QString& ownPath, const QString& shell, const QString& home, std::chrono::milliseconds shellTimeLimit)
{
    QStringList entries;
    QSet<QString> taken;
    auto add = [&](const QString& entry) {
        if (entry.isEmpty() || taken.contains(entry))
            return;
        taken.insert(entry);
        entries.append(entry);
    };

    for (const QString& piece : ownPath.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        add(piece);

    if (!shell.isEmpty()) {
        QProcess sh;
        sh.setProgram(shell);
        sh.setArguments({ QStringLiteral("-lc"), QStringLiteral("printf %s \"$PATH\"") });
        sh.setStandardInputFile(QProcess::nullDevice());
        sh.setStandardErrorFile(QProcess::nullDevice());
        // A profile that never finishes must not hold up every child: after
        // the limit the shell, and whatever its profile started, is killed
        // and adds nothing.
        ProcessGroup group;
        Output output;
        if (runInGroup(sh, group, shellTimeLimit, output) == Ending::Exited) {
            output.take(sh);
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString text = utf8(output.bytes);
            if (!utf8.hasError()) {
                for (const QString& piece : text.split(QLatin1Char(':'), Qt::SkipEmptyParts))
                    add(piece.trimmed());
            }
        }
    }

    for (const QString& dir : { home + QStringLiteral("/.npm-global/bin"), home + QStringLiteral("/.local/bin"),
             home + QStringLiteral("/bin"), QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"),
             QStringLiteral("/usr/bin"), QStringLiteral("/bin") })
        add(dir);

    return entries.join(QLatin1Char(':'));
}
