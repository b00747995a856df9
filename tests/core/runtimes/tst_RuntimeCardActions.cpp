#include "core/platform/JsonFile.h"
#include "core/platform/TerminalLauncher.h"
#include "core/providers/ProviderVerify.h"
#include "core/runtimes/RuntimeCardActions.h"
#include "core/runtimes/RuntimeCardState.h"
#include "core/runtimes/RuntimeCardText.h"
#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeEnablementStore.h"
#include "core/runtimes/RuntimeInstall.h"
#include "core/runtimes/RuntimeLogin.h"

#include "TempHome.h"

#include <QCoroTask>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

using RuntimeCardActions::Action;

namespace {

RuntimeSetupInfo setup(bool install, bool uninstall, bool withSlots)
{
    RuntimeSetupInfo s;
    s.kind = QStringLiteral("k");
    s.installSupported = install;
    s.installMethod = QStringLiteral("npm");
    s.installPackage = QStringLiteral("@x/k");
    s.uninstallSupported = uninstall;
    s.uninstallMethod = QStringLiteral("npm");
    s.uninstallPackage = QStringLiteral("@x/k");
    if (withSlots)
        s.providerSlots.append(ProviderSlot { QStringLiteral("openai"), QStringLiteral("OpenAI"), {}, {}, {} });
    return s;
}

RuntimeRow row(
    bool installed, RuntimeUsability usability, bool login = false, const QString& kind = QStringLiteral("k"))
{
    RuntimeRow r;
    r.kind = kind;
    r.display = kind.toUpper();
    r.installed = installed;
    r.usability = usability;
    if (login)
        r.loginCommand = QStringList { QStringLiteral("k"), QStringLiteral("login") };
    return r;
}

QStringList names(const QList<Action>& actions)
{
    QStringList out;
    for (Action a : actions)
        out << RuntimeCardActions::name(a);
    return out;
}

RuntimeSetupInfo installSetup(const QString& method, const QString& package)
{
    RuntimeSetupInfo s = setup(true, true, false);
    s.installMethod = s.uninstallMethod = method;
    s.installPackage = s.uninstallPackage = package;
    return s;
}

QString joined(const std::optional<QStringList>& v)
{
    return v ? v->join(QLatin1Char('|')) : QStringLiteral("<none>");
}

RuntimeRow named(const QString& kind, const QString& display)
{
    RuntimeRow r = row(true, RuntimeUsability::ready, false, kind);
    r.display = display;
    return r;
}

// How the user answers the prompt of a line that waits for Enter.
enum Answer { pressEnter, closeInput, pressCtrlC };

QByteArray enablementFile()
{
    QFile f(RuntimeEnablementStore::filePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestRuntimeCardActions : public QObject {
    Q_OBJECT
private slots:
    void actions_data();
    void actions();
    void launchCommand();
    void modelWarning_data();
    void modelWarning();
    void tableFile();
    void shortenHome_data();
    void shortenHome();
    void copiedDiagnosticsHideKeys();
    void installVectors_data();
    void installVectors();
    void unsupportedInstallGivesNothing();
    void opensTerminalWithTheLine();
    void runsOnlyAfterEnter_data();
    void runsOnlyAfterEnter();
    void enablementPersists();
    void enablementWriteFailureIsReported();
};

void TestRuntimeCardActions::actions_data()
{
    QTest::addColumn<RuntimeRow>("row");
    QTest::addColumn<std::optional<RuntimeSetupInfo>>("setup");
    QTest::addColumn<bool>("hasWorkspace");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QStringList>("expected");

    const std::optional<RuntimeSetupInfo> none;
    const auto ready = RuntimeUsability::ready;
    QTest::newRow("login only") << row(false, RuntimeUsability::unsupported, true) << none << true << true << false
                                << QStringList { "login" };
    QTest::newRow("login, installed") << row(true, RuntimeUsability::unsupported, true) << none << true << false
                                      << false << QStringList { "login", "enable" };
    QTest::newRow("not installed, setup")
        << row(false, RuntimeUsability::notInstalled) << std::optional(setup(true, true, true)) << true << true << false
        << QStringList { "install", "uninstall", "reinstall", "model" };
    QTest::newRow("ready, enabled") << row(true, ready) << std::optional(setup(true, false, false)) << true << true
                                    << false << QStringList { "disable", "start" };
    QTest::newRow("disabled but running")
        << row(true, ready) << none << true << false << true << QStringList { "enable", "stop" };
    QTest::newRow("no workspace") << row(true, RuntimeUsability::degraded) << none << false << true << true
                                  << QStringList { "disable" };
    // Installed and none of the card's other conditions: still its way back.
    QTest::newRow("installed, nothing else")
        << row(true, RuntimeUsability::unsupported) << none << true << false << false << QStringList { "enable" };
    // Startable but not installed, disabled, not running: no empty row.
    QTest::newRow("nothing at all") << row(false, RuntimeUsability::loginRequired) << none << true << false << false
                                    << QStringList {};
}

void TestRuntimeCardActions::actions()
{
    QFETCH(RuntimeRow, row);
    QFETCH(std::optional<RuntimeSetupInfo>, setup);
    QFETCH(bool, hasWorkspace);
    QFETCH(bool, enabled);
    QFETCH(bool, running);
    QFETCH(QStringList, expected);
    const RuntimeCardActions::Inputs in { row, hasWorkspace, setup, enabled, running };
    QCOMPARE(names(RuntimeCardActions::actions(in)), expected);

    // The table lists the same.
    const QJsonObject table = RuntimeCardActions::table(
        { row }, { { row.kind, enabled } }, [&](const QString&) { return running; }, hasWorkspace,
        setup ? QMap<QString, RuntimeSetupInfo> { { row.kind, *setup } } : QMap<QString, RuntimeSetupInfo> {});
    QCOMPARE(table.value(row.kind).toObject().value("actions").toArray(), QJsonArray::fromStringList(expected));
}

void TestRuntimeCardActions::launchCommand()
{
    RuntimeRow r = row(true, RuntimeUsability::ready);
    r.detail = QStringLiteral("/usr/local/bin/k");
    QCOMPARE(RuntimeCardActions::launch(r), (RuntimeLaunch { "k", "/usr/local/bin/k", "K" }));
    for (const QString& detail : { QString(), QStringLiteral("bin/k"), QStringLiteral("探测超时") }) {
        r.detail = detail;
        QCOMPARE(RuntimeCardActions::launch(r).command, QStringLiteral("k"));
    }
}

void TestRuntimeCardActions::modelWarning_data()
{
    QTest::addColumn<bool>("hasKey");
    QTest::addColumn<int>("status"); // of the last check; 0: no answer came; -1: never checked
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<QString>("warning"); // empty: none

    const QString refused = QStringLiteral("上次验证被拒");
    QTest::newRow("no key") << false << 401 << false << QStringLiteral("缺 Key");
    QTest::newRow("never checked") << true << -1 << false << QString();
    QTest::newRow("accepted") << true << 200 << false << QString();
    QTest::newRow("401") << true << 401 << false << refused;
    QTest::newRow("403") << true << 403 << false << refused;
    // The provider was never reached, or did not say the key was wrong.
    QTest::newRow("host not found") << true << 0 << false << QString();
    QTest::newRow("timed out") << true << 0 << true << QString();
    QTest::newRow("404") << true << 404 << false << QString();
    QTest::newRow("500") << true << 500 << false << QString();
}

void TestRuntimeCardActions::modelWarning()
{
    QFETCH(bool, hasKey);
    QFETCH(int, status);
    QFETCH(bool, timedOut);
    QFETCH(QString, warning);
    ProviderProfile profile;
    profile.id = QUuid::createUuid();
    profile.provider = QStringLiteral("openai");
    profile.name = QStringLiteral("公司账号");
    if (status >= 0) {
        // Stored as the check records it.
        const ProviderVerify::Outcome outcome = ProviderVerify::interpret(status, R"({"error":{"message":"nope"}})",
            QStringLiteral("Host api.example.invalid not found"), timedOut, QStringLiteral("sk-x"));
        profile.lastVerifyOK = outcome.ok;
        profile.lastVerifyDetail = outcome.detail;
    }
    RuntimeCardState state;
    state.boundProfile = profile;
    state.boundProfileHasKey = hasKey;
    QCOMPARE(state.modelWarning().value_or(QString()), warning);
}

void TestRuntimeCardActions::tableFile()
{
    TempHome home;
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("elsewhere"))));
    // A later row of a kind replaces the earlier; a kind missing from the map is enabled.
    const QJsonObject table
        = RuntimeCardActions::table({ row(false, RuntimeUsability::notInstalled), row(true, RuntimeUsability::ready),
                                        row(true, RuntimeUsability::ready, false, QStringLiteral("b")) },
            { { QStringLiteral("b"), false } }, [](const QString&) { return false; }, true, {});
    QCOMPARE(RuntimeCardActions::filePath(), home.filePath(QStringLiteral(".tolvarine/desktop_runtime_actions.json")));
    qunsetenv("TOLVARINE_HOME");

    const QJsonObject written = QJsonDocument::fromJson(RuntimeCardActions::fileBytes(table)).object();
    QCOMPARE(written, table);
    QCOMPARE(written.value("k").toObject().value("actions").toArray(), QJsonArray({ "disable", "start" }));
    QCOMPARE(written.value("b").toObject().value("actions").toArray(), QJsonArray({ "enable" }));
}

void TestRuntimeCardActions::shortenHome_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("expected");
    const auto add = [](const char* name, const QString& text, const QString& home, const QString& expected) {
        QTest::newRow(name) << text << home << expected;
    };
    add("twice", "a /home/al/bin/x and /home/al", "/home/al", "a ~/bin/x and ~");
    add("longer name", "/home/alice/x /home/al.d", "/home/al", "/home/alice/x /home/al.d");
    add("inside a path", "/srv/home/al/x", "/home/al", "/srv/home/al/x");
    add("root home", "/usr/bin/k", "/", "/usr/bin/k");
    add("trailing slash", "可执行文件：/home/al/k", "/home/al/", "可执行文件：~/k");
}

void TestRuntimeCardActions::shortenHome()
{
    QFETCH(QString, text);
    QFETCH(QString, home);
    QFETCH(QString, expected);
    QCOMPARE(RuntimeCardText::shortenHome(text, home), expected);
}

void TestRuntimeCardActions::copiedDiagnosticsHideKeys()
{
    RuntimeRow r = row(true, RuntimeUsability::credentialsRequired);
    r.detail = QStringLiteral("/home/al/.local/bin/k");
    r.authHint = QStringLiteral("export OPENAI_API_KEY=sk-proj-abcdefghijklmnopqrstuvwxyz0123");
    const QString text = RuntimeCardText::clipboardDiagnostics(r, QStringLiteral("/home/al"));
    QVERIFY(text.startsWith(QStringLiteral("K（k）\n")));
    QVERIFY(text.contains(QStringLiteral("~/.local/bin/k")));
    QVERIFY(!text.contains(QStringLiteral("abcdefghijklmnop")));
}

void TestRuntimeCardActions::installVectors_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("install");
    QTest::addColumn<QString>("uninstall");
    QTest::addColumn<QString>("reinstall");
    const auto add = [](const char* name, const QString& method, const QString& package, const QString& install,
                         const QString& uninstall, const QString& reinstall) {
        QTest::newRow(name) << method << package << install << uninstall << reinstall;
    };
    add("npm", "npm", "@openai/codex", "npm|install|-g|@openai/codex", "npm|uninstall|-g|@openai/codex",
        "sh|-lc|npm uninstall -g @openai/codex && npm install -g @openai/codex");
    add("npm, word needing quotes", "npm", "pkg; rm -rf ~", "npm|install|-g|pkg; rm -rf ~",
        "npm|uninstall|-g|pkg; rm -rf ~", "sh|-lc|npm uninstall -g 'pkg; rm -rf ~' && npm install -g 'pkg; rm -rf ~'");
    add("brew", "brew", "goose", "brew|install|goose", "<none>", "<none>");
    add("empty package", "npm", "", "<none>", "<none>", "<none>");
}

void TestRuntimeCardActions::installVectors()
{
    QFETCH(QString, method);
    QFETCH(QString, package);
    QFETCH(QString, install);
    QFETCH(QString, uninstall);
    QFETCH(QString, reinstall);
    const RuntimeSetupInfo s = installSetup(method, package);
    QCOMPARE(joined(RuntimeInstall::command(s)), install);
    QCOMPARE(joined(RuntimeInstall::uninstallCommand(s)), uninstall);
    QCOMPARE(joined(RuntimeInstall::reinstallCommand(s)), reinstall);
}

void TestRuntimeCardActions::unsupportedInstallGivesNothing()
{
    RuntimeSetupInfo s = installSetup(QStringLiteral("npm"), QStringLiteral("p"));
    s.installSupported = false;
    QVERIFY(!RuntimeInstall::command(s));
    QVERIFY(RuntimeInstall::uninstallCommand(s));
    QVERIFY(!RuntimeInstall::reinstallCommand(s));
    s.installMethod.reset();
    s.installSupported = true;
    QVERIFY(!RuntimeInstall::command(s));
}

// The line is built for a real shell: quotes, backslashes and "$" in the words
// and a space in the folder all go through it unchanged.
void TestRuntimeCardActions::opensTerminalWithTheLine()
{
    TempHome home;
    const QString out = home.filePath(QStringLiteral("terminal.out"));
    const QString term = home.writeFile(QStringLiteral("term.sh"),
        "#!/bin/sh\n[ \"$1\" = -e ] && shift\n\"$@\" > '" + out.toUtf8() + "' < /dev/null\n");
    QFile::setPermissions(term, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("TOLVARINE_TERMINAL", QFile::encodeName(term));
    const QString folder = home.filePath(QStringLiteral("my project"));
    QDir().mkpath(folder);

    QVERIFY(!RuntimeLogin::open({}, std::nullopt));
    QVERIFY(RuntimeLogin::open({ QStringLiteral("printf"), QStringLiteral("%s|%s|"), QStringLiteral("it's \"q\" \\b"),
                                   QStringLiteral("$HOME") },
        folder));
    QFile f(out);
    QTRY_VERIFY(f.exists() && f.size() > 0);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(f.readAll()), QStringLiteral("it's \"q\" \\b|$HOME|"));
    qunsetenv("TOLVARINE_TERMINAL");
}

// The line an uninstall is sent with shows the command and runs it only on
// Enter; the end of input or Ctrl-C leave without running it.
void TestRuntimeCardActions::runsOnlyAfterEnter_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("runs");
    QTest::newRow("Enter") << int(pressEnter) << true;
    QTest::newRow("end of input") << int(closeInput) << false;
    QTest::newRow("Ctrl-C") << int(pressCtrlC) << false;
}

void TestRuntimeCardActions::runsOnlyAfterEnter()
{
    QFETCH(int, answer);
    QFETCH(bool, runs);
    TempHome home;
    const QString folder = home.filePath(QStringLiteral("my project"));
    QDir().mkpath(folder);
    const QString marker = QStringLiteral("it's $HOME; gone");
    const QStringList command { QStringLiteral("touch"), marker };

    QProcess sh;
    // Ctrl-C reaches a terminal's shell with its default action, whatever this test inherited.
    sh.setChildProcessModifier([] { std::signal(SIGINT, SIG_DFL); });
    sh.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), RuntimeLogin::shellLineAfterEnter(command, folder) });
    QVERIFY(sh.waitForStarted());
    QByteArray shown;
    QTRY_VERIFY((shown += sh.readAllStandardOutput()).endsWith("："));
    QCOMPARE(QString::fromUtf8(shown), QStringLiteral("touch 'it'\\''s $HOME; gone'\n按回车运行，按 Ctrl-C 放弃："));
    QVERIFY(!QFile::exists(QDir(folder).filePath(marker)));
    if (answer == pressEnter)
        sh.write("\n");
    else if (answer == closeInput)
        sh.closeWriteChannel();
    else
        ::kill(pid_t(sh.processId()), SIGINT);
    QVERIFY(sh.waitForFinished());
    QCOMPARE(QFile::exists(QDir(folder).filePath(marker)), runs);
}

// An undecodable file (every kind reads as enabled, the file is kept aside) is
// covered for every stored file by tst_BadStoredFiles.
void TestRuntimeCardActions::enablementPersists()
{
    TempHome home;
    const QList<RuntimeRow> rows { named(QStringLiteral("codex"), QStringLiteral("Codex")),
        named(QStringLiteral("aider"), QStringLiteral("Aider")) };
    RuntimeEnablement model;
    QSignalSpy notices(&model, &RuntimeEnablement::notice);
    model.reload(rows);
    QCOMPARE(model.enabled(),
        (QMap<QString, bool> { { QStringLiteral("codex"), true }, { QStringLiteral("aider"), true } }));

    QCoro::waitFor(model.setEnabled(rows[0], false, rows));
    QCOMPARE(notices.takeFirst(),
        (QVariantList { QStringLiteral("Codex 已停用 —— 不再派活给它。没有卸载、没有退出登录、凭据也还在"), false }));
    QCoro::waitFor(model.setEnabled(rows[1], false, rows));
    QCoro::waitFor(model.setEnabled(rows[0], true, rows));
    QCOMPARE(enablementFile(), QByteArray("{\n    \"aider\": false,\n    \"codex\": true\n}\n"));
    QCOMPARE(notices.last().first().toString(), QStringLiteral("Codex 已启用 —— Tolvarine 可以把活派给它了"));

    // Kinds no longer in the inventory stay in the file but not in the map.
    model.reload({ rows[0] });
    QCOMPARE(model.enabled(), (QMap<QString, bool> { { QStringLiteral("codex"), true } }));
    QVERIFY(enablementFile().contains("aider"));
}

void TestRuntimeCardActions::enablementWriteFailureIsReported()
{
    TempHome home;
    // A folder where the file should be: the replace fails.
    QDir().mkpath(RuntimeEnablementStore::filePath());
    RuntimeEnablement model;
    QSignalSpy notices(&model, &RuntimeEnablement::notice);
    QSignalSpy changes(&model, &RuntimeEnablement::changed);
    QCoro::waitFor(model.setEnabled(named(QStringLiteral("codex"), QStringLiteral("Codex")), false, {}));
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.first().first().toString().startsWith(QStringLiteral("改不了启用状态：")));
    QVERIFY(notices.first().at(1).toBool()); // said as an error
    QCOMPARE(changes.size(), 0);
}

QTEST_GUILESS_MAIN(TestRuntimeCardActions)
#include "tst_RuntimeCardActions.moc"
