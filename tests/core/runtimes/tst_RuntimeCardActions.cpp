#include "core/platform/JsonFile.h"
#include "core/runtimes/RuntimeCardActions.h"
#include "core/runtimes/RuntimeCardText.h"

#include "TempHome.h"

#include <QJsonArray>
#include <QtTest>

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

} // namespace

class TestRuntimeCardActions : public QObject {
    Q_OBJECT
private slots:
    void actions_data();
    void actions();
    void launchCommand();
    void tableFile();
    void shortenHome_data();
    void shortenHome();
    void copiedDiagnosticsHideKeys();
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

QTEST_GUILESS_MAIN(TestRuntimeCardActions)
#include "tst_RuntimeCardActions.moc"
