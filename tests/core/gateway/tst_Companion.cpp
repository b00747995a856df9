// The stand-in companion tool, run through the real runner: its reports must
// pass the application's own strict decoders, and its steering files, pairing
// files and call log must do what tests and demos rely on.

#include "core/gateway/CLI.h"
#include "core/gateway/CLIConfig.h"
#include "core/gateway/Json.h"
#include "core/providers/RuntimeSetupInfo.h"
#include "core/runtimes/RuntimeInventory.h"
#include "core/workforce/SkillBridge.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSet>
#include <QtTest>

namespace {

// The relocation answer: the last line holding the quoted key "ok".
QJsonObject relocationAnswer(const QString& out)
{
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (it->contains(QLatin1String("\"ok\"")))
            return json::parseObject(it->toUtf8()).value_or(QJsonObject());
    }
    return {};
}

} // namespace

class TestCompanion : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void reportsDecode();
    void pairAndRelocate();
    void pairAndGrantAtGateway();
    void steeringAndCallLog();

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    QString folder(const QString& relative) const
    {
        const QString path = m_home->filePath(relative);
        QDir().mkpath(path);
        return path;
    }
    std::optional<CLIConfig> current() const
    {
        return CLIConfig::fromFile(m_home->filePath(QStringLiteral(".tolvarine/config.json")));
    }
};

void TestCompanion::init()
{
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    // Nothing listens on port 1: these tests run without a gateway.
    qputenv("BRENLOW_SIM_GATEWAY", "http://127.0.0.1:1");
}

void TestCompanion::cleanup()
{
    qunsetenv("BRENLOW_SIM_GATEWAY");
    qunsetenv("BRENLOW_SIM_PAIR_WS");
    m_tool.reset();
    m_home.reset();
}

void TestCompanion::reportsDecode()
{
    // The inventory: the whole output is one report, and it covers every usability word.
    const CLI::Result r = CLI::run({ "runtimes", "--json" });
    QCOMPARE(r.code, 0);
    QString error;
    const auto inventory = RuntimeInventory::decode(r.out.toUtf8(), &error);
    QVERIFY2(inventory, qPrintable(error));
    QVERIFY(RuntimeSetupInfo::decodeReport(r.out.toUtf8()));
    QSet<QString> usability;
    for (const RuntimeEntry& e : inventory->runtimes)
        usability.insert(e.usability);
    QCOMPARE(usability,
        (QSet<QString> { "ready", "login_required", "credentials_required", "not_installed", "unsupported",
            "user_supplied", "degraded", "unknown" }));

    // Skill contracts, for a known role and an unknown one.
    for (const QString& role : { QStringLiteral("ai_developer"), QStringLiteral("ai_fullstack_developer") }) {
        const CLI::Result e = CLI::run({ "employee", "evidence", role, "--json" });
        const SkillBridge::Result view = SkillBridge::interpret(e.code, e.out);
        QVERIFY(std::holds_alternative<EmployeeSkillView>(view));
        QCOMPARE(std::get<EmployeeSkillView>(view).employeeRole, role);
    }
    const CLI::Result unknown = CLI::run({ "employee", "evidence", "ai_astronaut", "--json" });
    QCOMPARE(unknown.code, 1);
    QVERIFY(!unknown.out.contains(QLatin1Char('{')));
}

void TestCompanion::pairAndRelocate()
{
    const QString shop = folder(QStringLiteral("code/shop"));
    QCOMPARE(CLI::run({ "pair", "--path", shop, "--grant", "read" }, shop).code, 0);
    const auto paired = current();
    QVERIFY(paired);
    QCOMPARE(paired->path, std::optional<QString>(shop));
    QCOMPARE(paired->deviceId(), QStringLiteral("cli-") + CLIConfig::hostname());
    const QString ws = paired->workspace;
    const QString perWorkspace = m_home->filePath(".tolvarine/workspaces/" + ws + ".json");
    QCOMPARE(CLIConfig::fromFile(perWorkspace), paired);
    // Only the owner may read a file that holds a token.
    QCOMPARE(QFile::permissions(perWorkspace) & 0x0FFF, QFileDevice::ReadUser | QFileDevice::WriteUser);
    QCOMPARE(CLI::run({ "pair", "--path", m_home->filePath("nowhere"), "--grant", "read" }).code, 1);
    // The same folder again, spelled otherwise, pairs the same workspace again.
    QCOMPARE(CLI::run({ "pair", "--path", shop + "/", "--grant", "read" }, shop).code, 0);
    QCOMPARE(current()->workspace, ws);
    QCOMPARE(QDir(m_home->filePath(".tolvarine/workspaces")).entryList(QDir::Files).size(), 1);

    // Moved, and two folders of that name: both offered (a single one found and
    // applied is the relocation run's own test).
    const QStringList discover { "workspace", "relocate", "--ws", ws, "--json", "--dry-run" };
    const QString moved = m_home->filePath("projects/shop");
    QDir().mkpath(m_home->filePath("projects"));
    QVERIFY(QDir().rename(shop, moved));
    folder(QStringLiteral("old/shop"));
    QJsonObject answer = relocationAnswer(CLI::run(discover).out);
    QCOMPARE(answer.value("ok"), QJsonValue(false));
    QCOMPARE(answer.value("candidates").toArray(),
        QJsonArray({ m_home->filePath("old/shop"), m_home->filePath("projects/shop") }));
    QVERIFY(answer.value("error").isString());

    // Applying rebinds every pairing file of the workspace.
    answer = relocationAnswer(CLI::run({ "workspace", "relocate", "--ws", ws, moved, "--json" }).out);
    QCOMPARE(answer.value("ok"), QJsonValue(true));
    QCOMPARE(current()->path, std::optional<QString>(moved));
    QCOMPARE(CLIConfig::fromFile(perWorkspace)->path, std::optional<QString>(moved));
    answer = relocationAnswer(CLI::run({ "workspace", "relocate", "--ws", "ws-unknown", "--json", "--dry-run" }).out);
    QCOMPARE(answer.value("ok"), QJsonValue(false));

    // A chosen workspace id is kept; a second pairing becomes the current one.
    qputenv("BRENLOW_SIM_PAIR_WS", "ws-demo");
    const QString blog = folder(QStringLiteral("code/blog"));
    QCOMPARE(CLI::run({ "pair", "--path", blog, "--grant", "read" }, blog).code, 0);
    QCOMPARE(current()->workspace, QStringLiteral("ws-demo"));
    QVERIFY(CLIConfig::fromFile(perWorkspace));
    QVERIFY(CLI::run({ "workspaces" }).out.contains(QStringLiteral("ws-demo")));
}

void TestCompanion::pairAndGrantAtGateway()
{
    SimGateway gateway;
    QVERIFY2(gateway.ok(), gateway.output().constData());
    qputenv("BRENLOW_SIM_GATEWAY", gateway.origin().toUtf8());

    // A new folder becomes a new workspace of the gateway, with read declared.
    const QString notes = folder(QStringLiteral("code/notes"));
    QCOMPARE(CLI::run({ "pair", "--path", notes, "--grant", "read" }, notes).code, 0);
    const auto paired = current();
    QVERIFY(paired);
    QCOMPARE(paired->api, gateway.origin());
    const QJsonObject state = gateway.control("GET", "/_sim/state/" + paired->workspace).object();
    QCOMPARE(state.value("token").toString(), paired->token);
    QCOMPARE(state.value("path").toString(), notes);
    QCOMPARE(state.value("permissions").toObject().value("ceiling").toArray(), QJsonArray({ "read" }));

    // Pairing into a scenario workspace answers that workspace's token.
    qputenv("BRENLOW_SIM_PAIR_WS", "ws-demo");
    QCOMPARE(CLI::run({ "pair", "--path", notes, "--grant", "read" }, notes).code, 0);
    QCOMPARE(current()->token, gateway.config().token);

    // grant reaches the workspace's own gateway (TOLVARINE_API) when not steered elsewhere.
    qunsetenv("BRENLOW_SIM_GATEWAY");
    const CLI::Result granted = CLI::run({ "grant", "read", "write", "danger" }, notes, gateway.config());
    QVERIFY2(granted.code == 0, qPrintable(granted.out));
    const QJsonObject perms = gateway.control("GET", "/_sim/state/ws-demo").object().value("permissions").toObject();
    QCOMPARE(perms.value("ceiling").toArray(), QJsonArray({ "read", "write", "danger" }));
    QCOMPARE(CLI::run({ "grant", "read", "root" }, notes, gateway.config()).code, 2);
}

void TestCompanion::steeringAndCallLog()
{
    m_tool->answer(QStringLiteral("runtimes"), "warning: old cache\n{\"runtimes\":[]}", 1);
    m_tool->put(QStringLiteral("daemon-install.code"), "3");
    m_tool->put(QStringLiteral("log_env"), "EXTRA_KEY\n");
    qputenv("EXTRA_KEY", "k-1");
    const CLI::Result runtimes = CLI::run({ "runtimes", "--json" });
    QCOMPARE(runtimes.code, 1);
    QCOMPARE(runtimes.out, QStringLiteral("warning: old cache\n{\"runtimes\":[]}"));
    QCOMPARE(CLI::run({ "daemon", "install" }).code, 3);
    const CLI::Result usage = CLI::run({ "daemon", "restart" });
    QCOMPARE(usage.code, 2);
    QVERIFY(usage.out.startsWith(QStringLiteral("usage: brenlow")));

    const QString proj = folder(QStringLiteral("proj"));
    CLI::run({ "grant", "read", "danger" }, proj, CLIConfig { "http://127.0.0.1:1", "ws-1", "tok", proj, "dev-1" });
    qunsetenv("EXTRA_KEY");

    QCOMPARE(
        m_tool->argvs(), (QStringList { "runtimes --json", "daemon install", "daemon restart", "grant read danger" }));
    const QJsonObject first = m_tool->calls().first();
    const QJsonObject last = m_tool->calls().last();
    QVERIFY(!first.value("env").toObject().contains("TOLVARINE_WS"));
    QCOMPARE(first.value("env").toObject().value("TOLVARINE_FRONTEND").toString(), QStringLiteral("desktop"));
    QCOMPARE(last.value("cwd").toString(), QDir(proj).canonicalPath());
    QCOMPARE(last.value("env").toObject().value("TOLVARINE_WS").toString(), QStringLiteral("ws-1"));
    QCOMPARE(last.value("env").toObject().value("EXTRA_KEY").toString(), QStringLiteral("k-1"));
}

QTEST_GUILESS_MAIN(TestCompanion)
#include "tst_Companion.moc"
