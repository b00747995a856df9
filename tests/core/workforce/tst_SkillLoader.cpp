#include "core/gateway/CLI.h"
#include "core/workforce/SkillBridge.h"
#include "core/workforce/SkillLoader.h"
#include "core/workforce/SkillRoleKey.h"

#include "TempHome.h"

#include <QCoroTask>
#include <QtTest>

using namespace std::chrono_literals;

class TestSkillLoader : public QObject {
    Q_OBJECT
private slots:
    void roleKey_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("key"); // empty: none
        const auto add = [](const char* name, const char* title, const char* key) {
            QTest::newRow(name) << QString(title) << QString(key);
        };
        add("padded title", "  AI Developer ", "ai_developer");
        add("engineer is a developer", "AI Full-Stack Engineer", "ai_developer");
        add("full-stack developer has its own key", "ai full-stack developer", "ai_fullstack_developer");
        add("line break is not trimmed", "ai sales\n", "");
    }

    void roleKey()
    {
        QFETCH(QString, title);
        QFETCH(QString, key);
        QCOMPARE(skillRoleKey(title).value_or(QString()), key);
    }

    void interpretFailures_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("detail"); // "<decoder>": any non-empty decoder text
        const auto add = [](const char* name, int exitCode, const char* output, const char* detail) {
            QTest::newRow(name) << exitCode << QString(output) << QString(detail);
        };
        add("first non-empty line, untrimmed", 3, "\n\n  role not found: x \nsecond line\n", "  role not found: x ");
        add("failed with no output", 1, "", "CLI 没有说明原因");
        add("success without JSON", 0, "", "CLI 没有输出 JSON");
        add("brace in an earlier log line", 0, "loading {cache}\n{\"skill_name\":\"x\"}", "<decoder>");
    }

    void interpretFailures()
    {
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, detail);
        const auto result = SkillBridge::interpret(exitCode, output);
        QVERIFY(std::holds_alternative<SkillBridge::LoadError>(result));
        const QString got = std::get<SkillBridge::LoadError>(result).detail;
        if (detail == QLatin1String("<decoder>"))
            QVERIFY(!got.isEmpty());
        else
            QCOMPARE(got, detail);
    }

    void lenientDecoding_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("skillName");
        QTest::addColumn<int>("capabilities");
        QTest::addColumn<bool>("humanReview");
        QTest::addColumn<QStringList>("artifacts");
        const auto add = [](const char* name, const char* output, const char* skillName, int capabilities,
                             bool humanReview = false, const QStringList& artifacts = {}) {
            QTest::newRow(name) << QString(output) << QString(skillName) << capabilities << humanReview << artifacts;
        };
        add("warning line, only a name", "warning: cache is old\n{\"skill_name\":\"Ship\"}\n", "Ship", 0);
        add("capability without evidence level", R"({"capabilities":[{"capability":"deploy"}]})", "", 1);
        add("second capability is a number",
            R"({"skill_name":"S","capabilities":[{"capability":"a","evidence_level":"yes"},7],"required_artifacts":["pr"]})",
            "S", 0, false, { "pr" });
        add("one validator value is text",
            R"({"validators_available":{"lint":true,"tests":"yes"},"human_review":true})", "", 0, true);
        add("text list with a number empties it", R"({"required_artifacts":["pr",1],"skill_name":5})", "", 0);
    }

    void lenientDecoding()
    {
        QFETCH(QString, output);
        QFETCH(QString, skillName);
        QFETCH(int, capabilities);
        QFETCH(bool, humanReview);
        QFETCH(QStringList, artifacts);
        const auto result = SkillBridge::interpret(0, output);
        QVERIFY(std::holds_alternative<EmployeeSkillView>(result));
        const auto& view = std::get<EmployeeSkillView>(result);
        QCOMPARE(view.skillName, skillName);
        QCOMPARE(view.capabilities.size(), capabilities);
        if (capabilities > 0) // a capability without one is of unknown evidence
            QCOMPARE(view.capabilities.first().evidenceLevel, QStringLiteral("unknown"));
        QVERIFY(view.validatorsAvailable.isEmpty()); // one text value drops the whole map
        QCOMPARE(view.humanReview, humanReview);
        QCOMPARE(view.requiredArtifacts, artifacts);
    }

    void fullContract()
    {
        const QString reply = QStringLiteral(R"({
          "employee_role": "ai_developer", "skill_id": "dev.ship", "skill_name": "Ship code", "skill_version": "3",
          "resolution_status": "BLOCKED_VALIDATOR",
          "capabilities": [{"capability": "edit", "evidence_level": "yes", "sufficient": true, "why": "ran",
                            "evidence_ref": "run-1", "runtime_compatibility": ["claude", "codex"]}],
          "required_artifacts": ["diff"], "required_validators": ["tests"], "validators_available": {"tests": false},
          "human_review": true,
          "blocking": [{"kind": "validator", "what": "tests", "why": "missing", "next_step_owner": "user", "status": "open"}],
          "candidate_runtimes": ["claude"], "unknown_key": {"x": 1}
        })");
        const auto result = SkillBridge::interpret(0, reply);
        QVERIFY(std::holds_alternative<EmployeeSkillView>(result));
        const auto& v = std::get<EmployeeSkillView>(result);
        QCOMPARE(v.resolutionStatus, QStringLiteral("BLOCKED_VALIDATOR"));
        QVERIFY(v.capabilities.size() == 1 && v.capabilities[0].sufficient);
        QCOMPARE(v.capabilities[0].runtimeCompatibility, QStringList({ "claude", "codex" }));
        QCOMPARE(v.validatorsAvailable.value(QStringLiteral("tests"), true), false);
        QCOMPARE(v.blocking.size(), 1);
        QCOMPARE(v.candidateRuntimes, QStringList({ "claude" }));
    }

    void loadsFromTheTool()
    {
        TempHome home;
        home.installTool(Sim::companion());
        SkillLoader loader;
        const QString role = QStringLiteral("ai_developer");
        QCoro::waitFor(loader.load(role, CLIConfig { "http://127.0.0.1:1", "ws-demo", "tok" }));
        QVERIFY2(loader.skill() && !loader.skillError(), qPrintable(loader.skillError().value_or("")));
        QCOMPARE(loader.skill()->employeeRole, role);
        QVERIFY(!loader.skill()->capabilities.isEmpty());

        // An empty role runs nothing and keeps what is shown.
        QSignalSpy spy(&loader, &SkillLoader::changed);
        QCoro::waitFor(loader.load(QString(), std::nullopt));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(loader.skill()->employeeRole, role);
    }

    void failures()
    {
        TempHome home;
        SkillLoader loader;
        // No tool: the runner's not-found text.
        QCoro::waitFor(loader.load("ai_sales", std::nullopt));
        QCOMPARE(loader.skillError(), std::optional<QString>(CLI::NotFound::description()));

        // An unknown role: the stand-in's first output line; the earlier contract goes.
        home.installTool(Sim::companion());
        QCoro::waitFor(loader.load("ai_sales", std::nullopt));
        QVERIFY(loader.skill());
        QCoro::waitFor(loader.load("ai_astronaut", std::nullopt));
        QVERIFY(!loader.skill());
        QCOMPARE(loader.skillError(), std::optional<QString>(QStringLiteral("没有这个角色：ai_astronaut")));

        // A tool that hangs is stopped with the time-limit text.
        home.installTool(home.writeScript("tools/hang", "sleep 60"));
        loader.setTimeLimitForTesting(1000ms);
        QCoro::waitFor(loader.load("ai_sales", std::nullopt));
        QVERIFY2(loader.skillError().value_or("").contains(QStringLiteral("已经把它停掉了")),
            qPrintable(loader.skillError().value_or("")));
    }

    // A slow load for a role the pane has left never replaces the newer role's contract.
    void staleRoleIsDropped()
    {
        TempHome home;
        home.installTool(home.writeScript("tools/roles",
            "[ \"$3\" = ai_lawyer ] && sleep 2\n"
            "printf '{\"employee_role\":\"%s\"}\\n' \"$3\""));
        SkillLoader loader;
        QSignalSpy spy(&loader, &SkillLoader::changed);
        auto slow = loader.load("ai_lawyer", std::nullopt);
        auto fast = loader.load("ai_sales", std::nullopt);
        QCoro::waitFor(std::move(fast));
        QCoro::waitFor(std::move(slow));
        QCOMPARE(loader.role(), QStringLiteral("ai_sales"));
        QCOMPARE(loader.skill()->employeeRole, QStringLiteral("ai_sales"));
        QCOMPARE(spy.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSkillLoader)
#include "tst_SkillLoader.moc"
