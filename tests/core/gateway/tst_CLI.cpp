#include "core/gateway/CLI.h"
#include "core/gateway/CLIAsync.h"
#include "core/gateway/LineSplitter.h"
#include "core/platform/ProcessTable.h"
#include "core/runtimes/ProcessSignals.h"

#include "TempHome.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <csignal>

using namespace std::chrono_literals;

namespace {

// Writes an executable shell script into the home.
QString installScript(const TempHome& home, const QByteArray& body)
{
    return home.writeScript(QStringLiteral(".local/bin/brenlow"), body);
}

CLIConfig config(bool withPath, const std::optional<QString>& device)
{
    return { QStringLiteral("http://127.0.0.1:18091"), QStringLiteral("ws-1"), QStringLiteral("tok"),
        withPath ? std::optional<QString>(QStringLiteral("/projects/shop")) : std::nullopt, device };
}

struct Collected {
    QStringList lines;
    QStringList linesAtFinish;
    bool finished = false;
};

// Spawns the installed tool and collects its lines until it ends.
bool spawnAndCollect(
    Collected& got, const QHash<QString, QString>& extraEnv = {}, const std::optional<CLIConfig>& cfg = std::nullopt)
{
    auto spawned = CLI::spawn({ QStringLiteral("run") }, std::nullopt, cfg, std::nullopt, extraEnv,
        [&got](const QString& line) { got.lines.append(line); });
    if (!spawned.process)
        return false;
    QObject::connect(spawned.process.get(), &QProcess::finished, [&got] {
        got.linesAtFinish = got.lines;
        got.finished = true;
    });
    return QTest::qWaitFor([&got] { return got.finished; }, 20000);
}

} // namespace

class TestCLI : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void locateOrder_data();
    void locateOrder();
    void locateUsesHome();

    void exitAndOutput_data();
    void exitAndOutput();
    void workingFolderAndPath();
    void startFailures_data();
    void startFailures();
    void stoppedRunEndsItsWholeGroup_data();
    void stoppedRunEndsItsWholeGroup();
    void stoppedRunGetsTheGraceFirst_data();
    void stoppedRunGetsTheGraceFirst();

    void environment_data();
    void environment();
    void augmentedPath_data();
    void augmentedPath();

    void spawnLines_data();
    void spawnLines();
    void spawnExtraEnvironmentWins();
    void lineSplitterByteByByte();

    void asyncRun();
    void asyncRunInFolderKeepsEventLoopRunning();
};

void TestCLI::initTestCase()
{
    // The children's environment is to show only what the runner sets.
    for (const QString& key : QProcessEnvironment::systemEnvironment().keys()) {
        if (key.startsWith(QLatin1String("TOLVARINE_")))
            qunsetenv(key.toLocal8Bit().constData());
    }
}

void TestCLI::locateOrder_data()
{
    // Each placement is "<place>:<name>[:noexec]"; places are app (the
    // application's folder), local, npm (folders in the home).
    QTest::addColumn<QStringList>("placements");
    QTest::addColumn<QString>("expected"); // "<place>:<name>"

    QTest::newRow("own folder wins") << QStringList { "local:brenlow", "app:brenlow" } << "app:brenlow";
    QTest::newRow("first name is tried everywhere first")
        << QStringList { "app:tolvarine-cli", "local:brenlow" } << "local:brenlow";
    QTest::newRow("not executable is passed over")
        << QStringList { "local:brenlow:noexec", "npm:tolvarine-cli" } << "npm:tolvarine-cli";
}

void TestCLI::locateOrder()
{
    QFETCH(QStringList, placements);
    QFETCH(QString, expected);
    TempHome home;
    const QString appDir = home.filePath(QStringLiteral("app"));
    QDir().mkpath(appDir);
    const QHash<QString, QString> places { { "app", "app" }, { "local", ".local/bin" }, { "npm", ".npm-global/bin" } };
    const auto relative
        = [&](const QStringList& parts) { return places.value(parts[0]) + QLatin1Char('/') + parts[1]; };
    for (const QString& placement : placements) {
        const QStringList parts = placement.split(QLatin1Char(':'));
        if (parts.value(2) == QLatin1String("noexec"))
            home.writeFile(relative(parts), "#!/bin/sh\n");
        else
            home.writeScript(relative(parts), "exit 0");
    }
    QCOMPARE(CLI::locateIn(appDir, home.path()),
        std::optional<QString>(home.filePath(relative(expected.split(QLatin1Char(':'))))));
}

void TestCLI::locateUsesHome()
{
    TempHome home;
    QVERIFY(!CLI::locate());
    const QString installed = home.installTool(home.writeScript(QStringLiteral("tools/fake"), "exit 0"));
    QCOMPARE(CLI::locate(), std::optional<QString>(installed));
}

void TestCLI::exitAndOutput_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");
    QTest::addColumn<bool>("cut");
    QTest::newRow("failure code") << QByteArray("echo no; exit 3") << 3 << "no\n" << false;
    QTest::newRow("ended by SIGTERM") << QByteArray("kill -TERM $$; sleep 5") << int(SIGTERM) << "" << false;
    QTest::newRow("stdout and stderr interleaved")
        << QByteArray("echo one; echo two >&2; echo three") << 0 << "one\ntwo\nthree\n"
        << false;
    QTest::newRow("arguments passed as given, no shell")
        << QByteArray(R"(printf '[%s]' "$@")") << 0 << "[a b][$HOME][*]" << false;
    QTest::newRow("invalid UTF-8 keeps the rest of the text")
        << QByteArray(R"(printf 'error: \377 bad\n')") << 0 << QStringLiteral("error: \uFFFD bad\n") << false;
    // Far more than a pipe holds: the run must keep reading while it waits.
    QTest::newRow("large output") << QByteArray("head -c 300000 /dev/zero | tr '\\0' x; echo; echo end") << 0
                                  << QString(300000, QLatin1Char('x')) + QStringLiteral("\nend\n") << false;
    // More than a run keeps: the start of it, and the run says so.
    QTest::newRow("more than is kept") << QByteArray("head -c 6000000 /dev/zero | tr '\\0' x; echo; echo end") << 0
                                       << QString(CLI::kMaxOutputBytes, QLatin1Char('x')) << true;
    // A background child keeps the output pipe open after the tool exits: the
    // run comes back with the tool's own output rather than waiting for end of file.
    QTest::newRow("output held open by a child") << QByteArray("sleep 30 &\necho done") << 0 << "done\n" << false;
}

void TestCLI::exitAndOutput()
{
    QFETCH(QByteArray, body);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(bool, cut);
    TempHome home;
    installScript(home, body);
    const CLI::Result r = CLI::run({ QStringLiteral("a b"), QStringLiteral("$HOME"), QStringLiteral("*") });
    QCOMPARE(r.failure, CLI::Failure::None);
    QVERIFY(r.error.isEmpty());
    QCOMPARE(r.code, code);
    QVERIFY2(r.out == out, qPrintable(r.out.left(200))); // not the whole large output
    QCOMPARE(r.outputCut, cut);
}

void TestCLI::workingFolderAndPath()
{
    TempHome home;
    installScript(home, R"(pwd; printf %s "$PATH")");
    const QString folder = home.filePath(QStringLiteral("project"));
    QDir().mkpath(folder);
    // The child gets the augmented PATH, not the bare one a desktop session gives.
    QCOMPARE(CLI::run({}, folder).out, QDir(folder).canonicalPath() + QLatin1Char('\n') + CLI::augmentedPath());

    const CLI::Result missing = CLI::run({}, home.filePath(QStringLiteral("gone")));
    QCOMPARE(missing.failure, CLI::Failure::CouldNotStart);
    QVERIFY(!missing.error.isEmpty());
}

void TestCLI::startFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // of the installed tool; empty: none installed
    QTest::addColumn<bool>("executable");
    QTest::addColumn<int>("failure");
    QTest::newRow("none installed") << QByteArray() << false << int(CLI::Failure::NotFound);
    QTest::newRow("not executable") << QByteArray("#!/bin/sh\n") << false << int(CLI::Failure::NotFound);
    QTest::newRow("not a program") << QByteArray("\x01\x02\x03 junk") << true << int(CLI::Failure::CouldNotStart);
}

void TestCLI::startFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, executable);
    QFETCH(int, failure);
    TempHome home;
    if (!content.isEmpty()) {
        const QString path = home.writeFile(QStringLiteral(".local/bin/brenlow"), content);
        if (executable)
            QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    }
    const CLI::Result r = CLI::run({ QStringLiteral("workspaces") });
    QCOMPARE(int(r.failure), failure);
    QCOMPARE(r.code, -1);
    auto spawned = CLI::spawn({ QStringLiteral("run") }, std::nullopt, std::nullopt, std::nullopt, {}, {});
    QVERIFY(!spawned.process);
    QCOMPARE(int(spawned.failure), failure);
    if (failure == int(CLI::Failure::NotFound)) {
        QCOMPARE(r.error, CLI::NotFound::description());
        QVERIFY(r.error.startsWith(QStringLiteral("没找到 Brenlow CLI。在终端里装一次：curl -fsSL https://")));
        QVERIFY(r.error.endsWith(QStringLiteral("/install.sh | sh")));
    } else {
        QVERIFY(!r.error.isEmpty() && !spawned.error.isEmpty());
    }
}

void TestCLI::stoppedRunEndsItsWholeGroup_data()
{
    QTest::addColumn<bool>("ownerGoes"); // else the time limit stops it
    QTest::newRow("time limit") << false;
    QTest::newRow("owner destroyed") << true;
}

// A run that is stopped leaves nothing behind, not even what the tool started.
void TestCLI::stoppedRunEndsItsWholeGroup()
{
    QFETCH(bool, ownerGoes);
    TempHome home;
    const QString pidFile = home.filePath(QStringLiteral("pids"));
    installScript(home, "sleep 30 &\necho \"$$ $!\" > \"" + pidFile.toUtf8() + "\"\necho started\nwait");
    const QStringList args { QStringLiteral("daemon"), QStringLiteral("install") };
    const auto limit = ownerGoes ? 60s : 2s;
    auto owner = std::make_unique<QObject>();
    auto run = CLI::runAsync(args, std::nullopt, std::nullopt, std::nullopt, limit, owner.get());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pidFile).size() > 0, 20000);
    if (ownerGoes)
        owner.reset();
    const CLI::Result r = QCoro::waitFor(std::move(run));
    QCOMPARE(r.failure, ownerGoes ? CLI::Failure::Cancelled : CLI::Failure::TimedOut);
    QCOMPARE(r.code, -1);
    QCOMPARE(r.error, ownerGoes ? CLI::cancelledText(args) : CLI::timedOutText(args, limit));
    QVERIFY(ownerGoes || r.error.startsWith(QStringLiteral("brenlow daemon 超过 2 秒还没结束")));
    QCOMPARE(r.out, QStringLiteral("started\n"));

    QFile f(pidFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> pids = f.readAll().trimmed().split(' ');
    QCOMPARE(pids.size(), 2);
    for (const QByteArray& pid : pids)
        QTRY_VERIFY(!ProcessSignals::isAlive(pid_t(pid.toInt())));
}

void TestCLI::stoppedRunGetsTheGraceFirst_data()
{
    QTest::addColumn<bool>("ownerGoes"); // else the time limit stops it
    QTest::addColumn<bool>("honoursTerm"); // else it goes on until SIGKILL
    QTest::newRow("time limit, ends on SIGTERM") << false << true;
    QTest::newRow("time limit, ignores SIGTERM") << false << false;
    QTest::newRow("owner destroyed, ignores SIGTERM") << true << false;
}

// A stopped run gets SIGTERM first, so that a tool writing state can finish
// its write; one that ignores it is killed once the grace is over.
void TestCLI::stoppedRunGetsTheGraceFirst()
{
    QFETCH(bool, ownerGoes);
    QFETCH(bool, honoursTerm);
    TempHome home;
    const QByteArray record = home.filePath(QStringLiteral("record")).toUtf8();
    installScript(home,
        "trap 'termed=1; echo TERM >> \"" + record + "\"" + (honoursTerm ? "; exit 0" : "") + "' TERM\n"
            + "echo $$ > \"" + record
            + ".pid\"\n"
              "while :; do sleep 0.05; [ -n \"$termed\" ] && echo tick >> \""
            + record + "\"; done");
    const QStringList args { QStringLiteral("pair") };
    auto owner = std::make_unique<QObject>();
    auto run = CLI::runAsync(args, std::nullopt, std::nullopt, std::nullopt, ownerGoes ? 60s : 1s, owner.get());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(QString::fromUtf8(record + ".pid")).size() > 0, 20000);
    if (ownerGoes)
        owner.reset();
    const CLI::Result r = QCoro::waitFor(std::move(run));
    QCOMPARE(r.failure, ownerGoes ? CLI::Failure::Cancelled : CLI::Failure::TimedOut);
    QCOMPARE(r.code, -1);

    QFile f(QString::fromUtf8(record));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.first(), QByteArray("TERM"));
    QCOMPARE(lines.count("TERM"), 1);
    // One that ignores it ran on through the grace, then nothing of its group is left.
    QCOMPARE(lines.contains("tick"), !honoursTerm);
    QFile pidFile(QString::fromUtf8(record + ".pid"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const auto leader = pid_t(pidFile.readAll().trimmed().toInt());
    QTRY_VERIFY(!ProcessSignals::isAlive(leader));
    QTRY_VERIFY(ProcessTable::groupMembers(leader).isEmpty());
}

void TestCLI::environment_data()
{
    QTest::addColumn<std::optional<CLIConfig>>("cfg");
    QTest::addColumn<std::optional<RuntimeLaunch>>("runtime");
    QTest::addColumn<QString>("inheritedPath"); // TOLVARINE_PATH of this process, empty for unset
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("inheritedMark"); // TOLVARINE_LAUNCH of this process, empty for unset

    const RuntimeLaunch launch { QStringLiteral("claude"), QStringLiteral("claude-bin"), QStringLiteral("Claude") };
    const QString defaultDevice = QStringLiteral("TOLVARINE_DEVICE=cli-") + CLIConfig::hostname();

    QTest::newRow("nothing given") << std::optional<CLIConfig>() << std::optional<RuntimeLaunch>() << QString()
                                   << QStringList { "TOLVARINE_FRONTEND=desktop" } << QString();
    QTest::newRow("workspace with folder and device")
        << std::optional<CLIConfig>(config(true, QStringLiteral("dev-1"))) << std::optional<RuntimeLaunch>()
        << QString()
        << QStringList { "TOLVARINE_API=http://127.0.0.1:18091", "TOLVARINE_DEVICE=dev-1", "TOLVARINE_FRONTEND=desktop",
               "TOLVARINE_PATH=/projects/shop", "TOLVARINE_TOKEN=tok", "TOLVARINE_WS=ws-1" }
        << QString();
    QTest::newRow("inherited folder stays without one in the config")
        << std::optional<CLIConfig>(config(false, std::nullopt)) << std::optional<RuntimeLaunch>()
        << QStringLiteral("/inherited")
        << QStringList { "TOLVARINE_API=http://127.0.0.1:18091", defaultDevice, "TOLVARINE_FRONTEND=desktop",
               "TOLVARINE_PATH=/inherited", "TOLVARINE_TOKEN=tok", "TOLVARINE_WS=ws-1" }
        << QString();
    QTest::newRow("runtime launch") << std::optional<CLIConfig>() << std::optional<RuntimeLaunch>(launch) << QString()
                                    << QStringList { "TOLVARINE_FRONTEND=desktop", "TOLVARINE_RUNTIME=claude-bin",
                                           "TOLVARINE_RUNTIME_KIND=claude" }
                                    << QString();
    // Started from inside a worker's tree: the worker's launch mark is not handed on.
    QTest::newRow("inherited launch mark is dropped")
        << std::optional<CLIConfig>() << std::optional<RuntimeLaunch>(launch) << QString()
        << QStringList { "TOLVARINE_FRONTEND=desktop", "TOLVARINE_RUNTIME=claude-bin", "TOLVARINE_RUNTIME_KIND=claude" }
        << QStringLiteral("l-1");
}

void TestCLI::environment()
{
    QFETCH(std::optional<CLIConfig>, cfg);
    QFETCH(std::optional<RuntimeLaunch>, runtime);
    QFETCH(QString, inheritedPath);
    QFETCH(QStringList, expected);
    QFETCH(QString, inheritedMark);
    TempHome home;
    if (!inheritedPath.isEmpty())
        qputenv("TOLVARINE_PATH", inheritedPath.toUtf8());
    if (!inheritedMark.isEmpty())
        qputenv("TOLVARINE_LAUNCH", inheritedMark.toUtf8());
    installScript(home, "env | grep '^TOLVARINE_' | LC_ALL=C sort");
    const CLI::Result r = CLI::run({}, std::nullopt, cfg, runtime);
    qunsetenv("TOLVARINE_PATH");
    qunsetenv("TOLVARINE_LAUNCH");
    QCOMPARE(r.failure, CLI::Failure::None);
    QCOMPARE(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
}

void TestCLI::augmentedPath_data()
{
    QTest::addColumn<QString>("ownPath");
    QTest::addColumn<QByteArray>("shellBody"); // empty: a shell that does not exist
    QTest::addColumn<QStringList>("expectedHead");
    QTest::addColumn<QStringList>("fixedTaken"); // fixed folders already in the head

    // The login shell answers only when asked the way a login shell is (-lc).
    QTest::newRow("own, then login shell, then fixed folders")
        << QStringLiteral("/usr/bin::/opt/x")
        << QByteArray(R"([ "$1|$2" = '-lc|printf %s "$PATH"' ] && printf %s '/opt/x:/usr/local/bin')")
        << QStringList { "/usr/bin", "/opt/x", "/usr/local/bin" } << QStringList { "/usr/bin", "/usr/local/bin" };
    QTest::newRow("shell entries trimmed") << QStringLiteral("/a") << QByteArray(R"(printf ' /s1 :\n/s2\n:  :/a')")
                                           << QStringList { "/a", "/s1", "/s2" } << QStringList {};
    QTest::newRow("shell that never finishes adds nothing")
        << QStringLiteral("/a") << QByteArray("printf %s /late; exec sleep 30") << QStringList { "/a" }
        << QStringList {};
    QTest::newRow("shell that cannot start adds nothing")
        << QString() << QByteArray() << QStringList {} << QStringList {};
}

void TestCLI::augmentedPath()
{
    QFETCH(QString, ownPath);
    QFETCH(QByteArray, shellBody);
    QFETCH(QStringList, expectedHead);
    QFETCH(QStringList, fixedTaken);
    TempHome home;
    const QString shell = shellBody.isEmpty() ? QStringLiteral("/nonexistent/shell")
                                              : home.writeScript(QStringLiteral("shell"), shellBody);
    QStringList expected = expectedHead;
    for (const QString& dir : { home.path() + "/.npm-global/bin", home.path() + "/.local/bin", home.path() + "/bin",
             QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin"),
             QStringLiteral("/bin") }) {
        if (!fixedTaken.contains(dir))
            expected.append(dir);
    }
    QCOMPARE(CLI::buildAugmentedPath(ownPath, shell, home.path(), 500ms), expected.join(QLatin1Char(':')));
}

void TestCLI::spawnLines_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("a line split across two writes arrives whole")
        << QByteArray("printf 'par'; sleep 0.3; printf 'tial\\nnext\\n'") << QStringList { "partial", "next" };
    QTest::newRow("a UTF-8 character split across two writes arrives whole")
        << QByteArray(R"(printf 'x\344\275'; sleep 0.3; printf '\240\345\245\275\n')") << QStringList { "x你好" };
    QStringList many; // many reads, lines cut at arbitrary chunk boundaries
    for (int i = 1; i <= 20000; ++i)
        many.append(QString::number(i));
    QTest::newRow("many lines") << QByteArray("seq 1 20000") << many;
    // A line that never ends is not held whole: its start comes, the rest of it is dropped.
    const QString kept(LineSplitter::kMaxLineBytes, QLatin1Char('y'));
    QTest::newRow("a line longer than is kept")
        << QByteArray("head -c 200000 /dev/zero | tr '\\0' y; echo; echo next") << QStringList { kept, "next" };
    QTest::newRow("an unterminated line longer than is kept")
        << QByteArray("echo first; head -c 200000 /dev/zero | tr '\\0' y") << QStringList { "first", kept };
}

void TestCLI::spawnLines()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, lines);
    TempHome home;
    installScript(home, body);
    Collected got;
    QVERIFY(spawnAndCollect(got));
    QCOMPARE(got.lines, lines);
    QCOMPARE(got.linesAtFinish, lines);
}

void TestCLI::spawnExtraEnvironmentWins()
{
    TempHome home;
    installScript(home, R"(printf '%s|%s|%s|%s\n' "$PATH" "$TOLVARINE_WS" "$TOLVARINE_TOKEN" "$EXTRA")");
    Collected got;
    QVERIFY(spawnAndCollect(
        got, { { "PATH", "/only/here" }, { "TOLVARINE_WS", "other" }, { "EXTRA", "1" } }, config(true, std::nullopt)));
    QCOMPARE(got.lines, QStringList { "/only/here|other|tok|1" });
}

void TestCLI::lineSplitterByteByByte()
{
    const QByteArray stream = QStringLiteral("α\r\nβ\n\n\rγ\r\ntail δ").toUtf8();
    LineSplitter splitter;
    QStringList lines;
    for (char c : stream)
        lines += splitter.feed(QByteArray(1, c));
    QCOMPARE(lines, (QStringList { "α", "β", "\rγ" }));
    QCOMPARE(splitter.finish(), QStringList { "tail δ" });
    QCOMPARE(splitter.finish(), QStringList {});
}

void TestCLI::asyncRun()
{
    TempHome home;
    const CLI::Result missing = QCoro::waitFor(CLIAsync::run({ QStringLiteral("daemon") }));
    QCOMPARE(missing.out, QStringLiteral("找不到 brenlow：") + CLI::NotFound::description());

    installScript(home, R"(printf '%s ' "$@"; echo "[$TOLVARINE_WS]"; exit 4)");
    qputenv("TOLVARINE_WS", "inherited");
    const CLI::Result r = QCoro::waitFor(CLIAsync::run({ QStringLiteral("daemon"), QStringLiteral("status") }));
    qunsetenv("TOLVARINE_WS");
    QCOMPARE(r.failure, CLI::Failure::None);
    QCOMPARE(r.code, 4);
    QCOMPARE(r.out, QStringLiteral("daemon status [inherited]\n"));

    installScript(home, "echo slow; exec sleep 30");
    const CLI::Result late = QCoro::waitFor(CLIAsync::run({ QStringLiteral("daemon") }, 300ms));
    QCOMPARE(late.failure, CLI::Failure::TimedOut);
    QCOMPARE(late.code, -1);
    QCOMPARE(late.out, late.error);
}

// The folder and the workspace reach the tool, and the event loop runs while it does.
void TestCLI::asyncRunInFolderKeepsEventLoopRunning()
{
    TempHome home;
    const QString folder = home.filePath(QStringLiteral("proj"));
    QDir().mkpath(folder);
    installScript(home, R"(sleep 0.5; pwd; printf '%s\n' "$TOLVARINE_WS")");
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(10);
    const CLI::Result r
        = QCoro::waitFor(CLI::runAsync({ QStringLiteral("grant") }, folder, config(true, std::nullopt)));
    QCOMPARE(r.out, QDir(folder).canonicalPath() + QStringLiteral("\nws-1\n"));
    QVERIFY(ticks > 0);
}

QTEST_GUILESS_MAIN(TestCLI)
#include "tst_CLI.moc"
