// The stand-in companion tool, run through the real runner: every report it
// prints must pass the strict reading of the shape the application decodes,
// and its steering files, pairing files and call log must do what tests and
// demos rely on.

#include "gateway/CLI.h"
#include "gateway/CLIConfig.h"
#include "gateway/Json.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : m_name(name)
    {
        qputenv(name, value);
    }
    ~ScopedEnv() { qunsetenv(m_name); }

private:
    const char* m_name;
};

bool allIntegral(const QJsonObject& o)
{
    for (const QJsonValue& v : o) {
        if (!json::integral(v))
            return false;
    }
    return true;
}

// The inventory keys of one runtime entry, read strictly; the error names the key.
QString checkInventoryEntry(const QJsonObject& e)
{
    json::StrictReader r(e);
    r.requiredString("kind");
    r.requiredString("display");
    r.requiredString("adapter");
    json::StrictReader health(r.requiredObject("health"));
    health.requiredBool("installed");
    health.requiredBool("healthy");
    health.optionalString("version");
    health.optionalString("path");
    health.optionalString("error");
    json::StrictReader auth(r.requiredObject("auth"));
    auth.requiredString("state");
    auth.requiredString("source");
    auth.optionalString("hint");
    auth.optionalStringList("login");
    auth.optionalString("login_note");
    r.requiredString("usability");
    r.requiredBool("protocol");
    if (!allIntegral(r.requiredObject("cap_counts")))
        r.fail("cap_counts");
    for (const json::StrictReader* x : { &r, &health, &auth }) {
        if (!x->ok())
            return x->error();
    }
    return {};
}

// The setup-contract keys of the same entry.
QString checkSetup(const QJsonObject& e)
{
    json::StrictReader r(e);
    r.requiredString("kind");
    r.optionalString("display");
    for (const char* key : { "install_supported", "api_key_supported", "uninstall_supported" })
        r.optionalBool(key);
    for (const char* key : { "install_method", "install_package", "install_source", "install_why",
             "credential_provider", "credential_why", "uninstall_method", "uninstall_package", "uninstall_why" })
        r.optionalString(key);
    r.optionalStringList("auth_methods");
    r.optionalStringList("api_key_env_vars");
    for (const QJsonValue& v : r.optionalArray("provider_slots").value_or(QJsonArray())) {
        if (!v.isObject())
            return QStringLiteral("provider_slots");
        json::StrictReader s(v.toObject());
        s.requiredString("provider");
        s.requiredString("display");
        s.optionalStringList("key_env_vars");
        s.optionalString("base_url_env_var");
        s.optionalString("model_env_var");
        if (!s.ok())
            return QStringLiteral("provider_slots.") + s.error();
    }
    return r.ok() ? QString() : r.error();
}

QString checkEvidence(const QJsonObject& o)
{
    json::StrictReader r(o);
    for (const char* key : { "employee_role", "skill_id", "skill_name", "skill_version", "resolution_status" })
        r.requiredString(key);
    for (const char* key : { "required_artifacts", "required_validators", "candidate_runtimes" }) {
        if (!r.optionalStringList(key))
            r.fail(key);
    }
    r.requiredBool("human_review");
    for (const QJsonValue& v : r.requiredObject("validators_available")) {
        if (!v.isBool())
            r.fail("validators_available");
    }
    for (const QJsonValue& v : r.requiredArray("capabilities")) {
        json::StrictReader c(v.toObject());
        c.requiredString("capability");
        c.requiredString("evidence_level");
        c.requiredBool("sufficient");
        c.requiredString("why");
        c.requiredString("evidence_ref");
        if (!v.isObject() || !c.optionalStringList("runtime_compatibility") || !c.ok())
            return QStringLiteral("capabilities.") + c.error();
    }
    for (const QJsonValue& v : r.requiredArray("blocking")) {
        json::StrictReader b(v.toObject());
        for (const char* key : { "kind", "what", "why", "next_step_owner", "status" })
            b.requiredString(key);
        if (!v.isObject() || !b.ok())
            return QStringLiteral("blocking.") + b.error();
    }
    static const QSet<QString> statuses { "READY", "BLOCKED_AUTH", "BLOCKED_PERMISSION", "BLOCKED_VALIDATOR",
        "BLOCKED_DEVICE", "BLOCKED_RUNTIME", "BLOCKED_CAPABILITY" };
    if (r.ok() && !statuses.contains(o.value("resolution_status").toString()))
        return QStringLiteral("resolution_status");
    return r.ok() ? QString() : r.error();
}

// The relocation answer: the last line holding the quoted key "ok".
std::optional<QJsonObject> relocationAnswer(const QString& out)
{
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (it->contains(QLatin1String("\"ok\"")))
            return json::parseObject(it->toUtf8());
    }
    return std::nullopt;
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

CLIConfig workspaceConfig(const QString& path)
{
    CLIConfig c;
    c.api = QStringLiteral("http://127.0.0.1:1");
    c.workspace = QStringLiteral("ws-1");
    c.token = QStringLiteral("tok");
    c.path = path;
    c.device = QStringLiteral("dev-1");
    return c;
}

} // namespace

class TestCompanion : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void runtimeReport();
    void daemonStatus_data();
    void daemonStatus();
    void employeeEvidence_data();
    void employeeEvidence();

    void pairWithoutGateway();
    void relocation();
    void grantFailures_data();
    void grantFailures();
    void pairAndGrantAtGateway();

    void steeringOverridesAndUnknownCommands();
    void callLog();

    void worker();
    void workerIgnoringTerm();

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<QTemporaryDir> m_sim;
    QString simFile(const QString& name) const { return m_sim->filePath(name); }
    void steer(const QString& name, const QByteArray& content) const
    {
        QFile f(simFile(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
};

void TestCompanion::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<QTemporaryDir>();
    m_home->installTool(Sim::companion());
    qputenv("BRENLOW_SIM_DIR", QFile::encodeName(m_sim->path()));
    // Nothing listens on port 1: these tests run without a gateway.
    qputenv("BRENLOW_SIM_GATEWAY", "http://127.0.0.1:1");
}

void TestCompanion::cleanup()
{
    qunsetenv("BRENLOW_SIM_DIR");
    qunsetenv("BRENLOW_SIM_GATEWAY");
    m_sim.reset();
    m_home.reset();
}

void TestCompanion::runtimeReport()
{
    const CLI::Result r = CLI::run({ "runtimes", "--json" });
    QCOMPARE(r.code, 0);
    // The recovery runner needs the whole output to be the report.
    const auto report = json::parseObject(r.out.toUtf8());
    QVERIFY(report);
    json::StrictReader top(*report);
    const QJsonArray runtimes = top.requiredArray("runtimes");
    QVERIFY(allIntegral(top.requiredObject("counts")));
    QVERIFY2(top.ok(), qPrintable(top.error()));

    QSet<QString> usability;
    bool loginCommand = false, pathAndError = false, errorOnly = false, protocol = false, noVersion = false;
    for (const QJsonValue& v : runtimes) {
        QVERIFY(v.isObject());
        const QJsonObject e = v.toObject();
        QVERIFY2(checkInventoryEntry(e).isEmpty(), qPrintable(checkInventoryEntry(e)));
        QVERIFY2(checkSetup(e).isEmpty(), qPrintable(checkSetup(e)));
        usability.insert(e.value("usability").toString());
        const QJsonObject health = e.value("health").toObject();
        loginCommand |= e.value("auth").toObject().contains("login");
        pathAndError |= health.contains("path") && health.contains("error");
        errorOnly |= !health.contains("path") && health.contains("error");
        protocol |= e.value("protocol").toBool();
        noVersion |= health.value("version").toString().isEmpty();
    }
    QCOMPARE(usability,
        (QSet<QString> { "ready", "login_required", "credentials_required", "not_installed", "unsupported",
            "user_supplied", "degraded", "unknown" }));
    QVERIFY(loginCommand && pathAndError && errorOnly && protocol && noVersion);
}

void TestCompanion::daemonStatus_data()
{
    QTest::addColumn<QByteArray>("state"); // daemon.state; empty: the default
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("hasRunning");
    QTest::newRow("healthy by default") << QByteArray() << "running" << true;
    QTest::newRow("not installed") << QByteArray("not_installed\n") << "not_installed" << true;
    QTest::newRow("state cannot be told")
        << QByteArray("installed_state_unknown") << "installed_state_unknown" << false;
}

void TestCompanion::daemonStatus()
{
    QFETCH(QByteArray, state);
    QFETCH(QString, expected);
    QFETCH(bool, hasRunning);
    if (!state.isEmpty())
        steer("daemon.state", state);
    const CLI::Result r = CLI::run({ "daemon", "status", "--json" });
    QCOMPARE(r.code, 0);
    const auto report = json::parseObject(r.out.toUtf8());
    QVERIFY(report);
    json::StrictReader s(*report);
    QCOMPARE(s.requiredInt("schema"), 1);
    QCOMPARE(s.requiredString("state"), expected);
    QCOMPARE(s.optionalBool("running").has_value(), hasRunning);
    s.optionalString("pid");
    s.optionalString("log");
    s.optionalString("last_exit_code");
    s.optionalStringList("legacy_labels");
    QVERIFY2(s.ok(), qPrintable(s.error()));

    if (expected != QLatin1String("running")) {
        // Installing the service makes the next status report it running.
        QCOMPARE(CLI::run({ "daemon", "install" }).code, 0);
        const auto after = json::parseObject(CLI::run({ "daemon", "status", "--json" }).out.toUtf8());
        QVERIFY(after);
        QCOMPARE(after->value("state").toString(), QStringLiteral("running"));
        QCOMPARE(after->value("pid").toString(), QStringLiteral("4242"));
    }
}

void TestCompanion::employeeEvidence_data()
{
    QTest::addColumn<QString>("role");
    for (const char* role :
        { "ai_developer", "ai_researcher", "ai_security_officer", "ai_investment_analyst", "ai_executive_assistant",
            "ai_lawyer", "ai_sales", "ai_customer_service", "ai_finance_analyst", "ai_sre", "ai_fullstack_developer" })
        QTest::newRow(role) << QString::fromLatin1(role);
}

void TestCompanion::employeeEvidence()
{
    QFETCH(QString, role);
    const CLI::Result r = CLI::run({ "employee", "evidence", role, "--json" });
    QCOMPARE(r.code, 0);
    const auto reply = json::parseObject(r.out.mid(r.out.indexOf(QLatin1Char('{'))).toUtf8());
    QVERIFY(reply);
    QVERIFY2(checkEvidence(*reply).isEmpty(), qPrintable(checkEvidence(*reply)));
    QCOMPARE(reply->value("employee_role").toString(), role);

    const CLI::Result unknown = CLI::run({ "employee", "evidence", "ai_astronaut", "--json" });
    QCOMPARE(unknown.code, 1);
    QVERIFY(!unknown.out.contains(QLatin1Char('{')));
}

void TestCompanion::pairWithoutGateway()
{
    const QString folder = m_home->filePath("code/shop");
    QDir().mkpath(folder);
    const CLI::Result r = CLI::run({ "pair", "--path", folder, "--grant", "read" }, folder);
    QCOMPARE(r.code, 0);

    const auto current = CLIConfig::fromFile(m_home->filePath(".tolvarine/config.json"));
    QVERIFY(current);
    QCOMPARE(current->path, std::optional<QString>(folder));
    QCOMPARE(current->displayName(), QStringLiteral("shop"));
    QVERIFY(!current->token.isEmpty());
    QCOMPARE(current->deviceId(), QStringLiteral("cli-") + CLIConfig::hostname());
    const QString perWorkspace = m_home->filePath(".tolvarine/workspaces/" + current->workspace + ".json");
    QCOMPARE(CLIConfig::fromFile(perWorkspace), current);
    // Only the owner may read a file that holds a token (user, group and other bits).
    QCOMPARE(QFile::permissions(perWorkspace) & 0x0FFF, QFileDevice::ReadUser | QFileDevice::WriteUser);

    // A chosen workspace id is kept; a second pairing becomes the current one.
    const ScopedEnv wanted("BRENLOW_SIM_PAIR_WS", "ws-demo");
    const QString other = m_home->filePath("code/blog");
    QDir().mkpath(other);
    QCOMPARE(CLI::run({ "pair", "--path", other, "--grant", "read" }, other).code, 0);
    QCOMPARE(CLIConfig::fromFile(m_home->filePath(".tolvarine/config.json"))->workspace, QStringLiteral("ws-demo"));
    QVERIFY(CLIConfig::fromFile(perWorkspace));
    QVERIFY(CLI::run({ "workspaces" }).out.contains(QStringLiteral("ws-demo")));

    const CLI::Result missing = CLI::run({ "pair", "--path", m_home->filePath("nowhere"), "--grant", "read" });
    QCOMPARE(missing.code, 1);
}

void TestCompanion::relocation()
{
    const QString folder = m_home->filePath("code/shop");
    QDir().mkpath(folder);
    QCOMPARE(CLI::run({ "pair", "--path", folder, "--grant", "read" }).code, 0);
    const QString ws = CLIConfig::fromFile(m_home->filePath(".tolvarine/config.json"))->workspace;
    const QStringList discover { "workspace", "relocate", "--ws", ws, "--json", "--dry-run" };

    auto answer = relocationAnswer(CLI::run(discover).out);
    QVERIFY(answer);
    QCOMPARE(answer->value("ok"), QJsonValue(true));
    QCOMPARE(answer->value("path").toString(), folder);

    // Moved once: found. Two folders of that name: both offered.
    const QString moved = m_home->filePath("projects/shop");
    QDir().mkpath(m_home->filePath("projects"));
    QVERIFY(QDir().rename(folder, moved));
    answer = relocationAnswer(CLI::run(discover).out);
    QVERIFY(answer);
    QCOMPARE(answer->value("path").toString(), moved);
    QDir().mkpath(m_home->filePath("old/shop"));
    answer = relocationAnswer(CLI::run(discover).out);
    QVERIFY(answer);
    QCOMPARE(answer->value("ok"), QJsonValue(false));
    QCOMPARE(answer->value("candidates").toArray(),
        QJsonArray({ m_home->filePath("old/shop"), m_home->filePath("projects/shop") }));
    QVERIFY(answer->value("candidates").isArray() && answer->value("error").isString());

    // Applying rebinds every pairing file of the workspace.
    answer = relocationAnswer(CLI::run({ "workspace", "relocate", "--ws", ws, moved, "--json" }).out);
    QVERIFY(answer);
    QCOMPARE(answer->value("ok"), QJsonValue(true));
    QCOMPARE(CLIConfig::fromFile(m_home->filePath(".tolvarine/config.json"))->path, std::optional<QString>(moved));
    QCOMPARE(CLIConfig::fromFile(m_home->filePath(".tolvarine/workspaces/" + ws + ".json"))->path,
        std::optional<QString>(moved));

    answer = relocationAnswer(CLI::run({ "workspace", "relocate", "--ws", "ws-unknown", "--json", "--dry-run" }).out);
    QVERIFY(answer);
    QCOMPARE(answer->value("ok"), QJsonValue(false));
    QVERIFY(!answer->value("error").toString().isEmpty());
}

void TestCompanion::grantFailures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("withWorkspace");
    QTest::addColumn<int>("code");
    QTest::newRow("no tiers") << QStringList { "grant" } << true << 2;
    QTest::newRow("unknown tier") << QStringList { "grant", "read", "root" } << true << 2;
    QTest::newRow("no workspace") << QStringList { "grant", "danger" } << false << 1;
    QTest::newRow("no gateway answers") << QStringList { "grant", "read", "danger" } << true << 1;
}

void TestCompanion::grantFailures()
{
    QFETCH(QStringList, args);
    QFETCH(bool, withWorkspace);
    QFETCH(int, code);
    const CLI::Result r
        = withWorkspace ? CLI::run(args, std::nullopt, workspaceConfig(m_home->path())) : CLI::run(args);
    QCOMPARE(r.code, code);
    QVERIFY(!r.out.trimmed().isEmpty());
}

void TestCompanion::pairAndGrantAtGateway()
{
    SimGateway gateway;
    QVERIFY2(gateway.ok(), gateway.output().constData());
    qputenv("BRENLOW_SIM_GATEWAY", gateway.origin().toUtf8());

    // A new folder becomes a new workspace of the gateway, with read declared.
    const QString folder = m_home->filePath("code/notes");
    QDir().mkpath(folder);
    QCOMPARE(CLI::run({ "pair", "--path", folder, "--grant", "read" }, folder).code, 0);
    const auto paired = CLIConfig::fromFile(m_home->filePath(".tolvarine/config.json"));
    QVERIFY(paired);
    QCOMPARE(paired->api, gateway.origin());
    const QJsonObject state = gateway.control("GET", "/_sim/state/" + paired->workspace).object();
    QCOMPARE(state.value("token").toString(), paired->token);
    QCOMPARE(state.value("path").toString(), folder);
    QCOMPARE(state.value("permissions").toObject().value("ceiling").toArray(), QJsonArray({ "read" }));

    // Pairing into a scenario workspace answers that workspace's token.
    {
        const ScopedEnv wanted("BRENLOW_SIM_PAIR_WS", "ws-demo");
        QCOMPARE(CLI::run({ "pair", "--path", folder, "--grant", "read" }, folder).code, 0);
    }
    const auto demo = CLIConfig::fromFile(m_home->filePath(".tolvarine/config.json"));
    QVERIFY(demo);
    QCOMPARE(demo->workspace, QStringLiteral("ws-demo"));
    QCOMPARE(demo->token, gateway.config().token);

    // grant reaches the workspace's own gateway (TOLVARINE_API) when not steered elsewhere.
    qunsetenv("BRENLOW_SIM_GATEWAY");
    CLIConfig cfg = gateway.config();
    const CLI::Result granted = CLI::run({ "grant", "read", "write", "danger" }, folder, cfg);
    QVERIFY2(granted.code == 0, qPrintable(granted.out));
    const QJsonObject perms = gateway.control("GET", "/_sim/state/ws-demo").object().value("permissions").toObject();
    QCOMPARE(perms.value("ceiling").toArray(), QJsonArray({ "read", "write", "danger" }));
    QCOMPARE(perms.value("effective").toObject().value("danger"), QJsonValue(true));
}

void TestCompanion::steeringOverridesAndUnknownCommands()
{
    steer("runtimes.out", "warning: old cache\n{\"runtimes\":[]}");
    steer("runtimes.code", "1\n");
    steer("daemon-install.code", "3");
    const CLI::Result runtimes = CLI::run({ "runtimes", "--json" });
    QCOMPARE(runtimes.code, 1);
    QCOMPARE(runtimes.out, QStringLiteral("warning: old cache\n{\"runtimes\":[]}"));
    const CLI::Result install = CLI::run({ "daemon", "install" });
    QCOMPARE(install.code, 3);
    QCOMPARE(install.out, QString());

    for (const QStringList& args :
        { QStringList { "teleport" }, QStringList {}, QStringList { "daemon", "restart" } }) {
        const CLI::Result r = CLI::run(args);
        QCOMPARE(r.code, 2);
        QVERIFY(r.out.startsWith(QStringLiteral("usage: brenlow")));
    }
}

void TestCompanion::callLog()
{
    steer("log_env", "EXTRA_KEY\n");
    const ScopedEnv extra("EXTRA_KEY", "k-1");
    const QString folder = m_home->filePath("proj");
    QDir().mkpath(folder);
    CLI::run({ "runtimes", "--json" });
    CLI::run({ "grant", "read", "danger" }, folder, workspaceConfig(folder));

    const QStringList lines = readText(simFile("calls.jsonl")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    const auto first = json::parseObject(lines[0].toUtf8());
    const auto second = json::parseObject(lines[1].toUtf8());
    QVERIFY(first && second);
    QCOMPARE(first->value("argv").toArray(), QJsonArray({ "runtimes", "--json" }));
    QCOMPARE(first->value("env").toObject().value("TOLVARINE_WS"), QJsonValue(QJsonValue::Undefined));
    QCOMPARE(first->value("env").toObject().value("TOLVARINE_FRONTEND").toString(), QStringLiteral("desktop"));
    QCOMPARE(second->value("argv").toArray(), QJsonArray({ "grant", "read", "danger" }));
    QCOMPARE(second->value("cwd").toString(), QDir(folder).canonicalPath());
    const QJsonObject env = second->value("env").toObject();
    QCOMPARE(env.value("TOLVARINE_WS").toString(), QStringLiteral("ws-1"));
    QCOMPARE(env.value("TOLVARINE_DEVICE").toString(), QStringLiteral("dev-1"));
    QCOMPARE(env.value("TOLVARINE_TOKEN").toString(), QStringLiteral("tok"));
    QCOMPARE(env.value("TOLVARINE_PATH").toString(), folder);
    QCOMPARE(env.value("EXTRA_KEY").toString(), QStringLiteral("k-1"));
}

void TestCompanion::worker()
{
    steer("run.interval_ms", "50");
    steer("run.split_line", "");
    const QString folder = m_home->filePath("proj");
    QDir().mkpath(folder);
    QStringList lines;
    auto spawned
        = CLI::spawn({ "run" }, folder, workspaceConfig(folder), RuntimeLaunch { "claude", "claude-bin", "Claude" },
            { { "ANTHROPIC_API_KEY", "sk-test" } }, [&lines](const QString& l) { lines.append(l); });
    QVERIFY(spawned.process);
    QProcess* p = spawned.process.get();
    QTRY_VERIFY_WITH_TIMEOUT(lines.contains(QStringLiteral("heartbeat 2")), 20000);
    QCOMPARE(lines.value(0), QStringLiteral("brenlow run: kind=claude runtime=claude-bin ws=ws-1"));
    QCOMPARE(lines.value(1), QStringLiteral("split line 完整"));

    p->terminate();
    QVERIFY(p->waitForFinished(20000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 0);
    QTRY_COMPARE(lines.last(), QStringLiteral("brenlow run: stopped"));

    const auto logged = json::parseObject(readText(simFile("calls.jsonl")).trimmed().toUtf8());
    QVERIFY(logged);
    QCOMPARE(logged->value("cwd").toString(), QDir(folder).canonicalPath());
    QCOMPARE(logged->value("env").toObject().value("TOLVARINE_RUNTIME_KIND").toString(), QStringLiteral("claude"));
}

void TestCompanion::workerIgnoringTerm()
{
    steer("run.ignore_term", "");
    steer("run.interval_ms", "20");
    QStringList lines;
    auto spawned = CLI::spawn(
        { "run" }, std::nullopt, std::nullopt, std::nullopt, {}, [&lines](const QString& l) { lines.append(l); });
    QVERIFY(spawned.process);
    QProcess* p = spawned.process.get();
    QTRY_VERIFY_WITH_TIMEOUT(lines.contains(QStringLiteral("heartbeat 1")), 20000);
    p->terminate();
    // It keeps beating after SIGTERM; only SIGKILL ends it.
    const qsizetype before = lines.size();
    QTRY_VERIFY_WITH_TIMEOUT(lines.size() > before + 3, 20000);
    QCOMPARE(p->state(), QProcess::Running);
    p->kill();
    QVERIFY(p->waitForFinished(20000));
    QCOMPARE(p->exitStatus(), QProcess::CrashExit);
}

QTEST_GUILESS_MAIN(TestCompanion)
#include "tst_Companion.moc"
