#include "core/workforce/SkillBridge.h"
#include "core/workforce/SkillRoleKey.h"

#include <QtTest>

class TestSkillContract : public QObject {
    Q_OBJECT
private slots:
    void roleKey_data();
    void roleKey();
    void interpretFailures_data();
    void interpretFailures();
    void lenientDecoding_data();
    void lenientDecoding();
    void fullContract();
};

void TestSkillContract::roleKey_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("key"); // empty: none
    QTest::newRow("padded title") << "  AI Developer "
                                  << "ai_developer";
    QTest::newRow("engineer is a developer") << "AI Full-Stack Engineer"
                                             << "ai_developer";
    QTest::newRow("full-stack developer has its own key") << "ai full-stack developer"
                                                          << "ai_fullstack_developer";
    QTest::newRow("line break is not trimmed") << "ai sales\n"
                                               << "";
}

void TestSkillContract::roleKey()
{
    QFETCH(QString, title);
    QFETCH(QString, key);
    const auto got = skillRoleKey(title);
    QCOMPARE(got.has_value(), !key.isEmpty());
    if (got)
        QCOMPARE(*got, key);
}

void TestSkillContract::interpretFailures_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("detail"); // "<decoder>": any non-empty decoder text
    QTest::newRow("first non-empty line, untrimmed") << 3 << "\n\n  role not found: x \nsecond line\n"
                                                     << "  role not found: x ";
    QTest::newRow("failed with no output") << 1 << ""
                                           << "CLI 没有说明原因";
    QTest::newRow("success without JSON") << 0 << ""
                                          << "CLI 没有输出 JSON";
    QTest::newRow("brace in an earlier log line") << 0 << "loading {cache}\n{\"skill_name\":\"x\"}"
                                                  << "<decoder>";
}

void TestSkillContract::interpretFailures()
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

void TestSkillContract::lenientDecoding_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("skillName");
    QTest::addColumn<int>("capabilities");
    QTest::addColumn<QString>("firstEvidenceLevel"); // of the first capability, when any
    QTest::addColumn<int>("validators");
    QTest::addColumn<bool>("humanReview");
    QTest::addColumn<QStringList>("artifacts");

    QTest::newRow("warning line, only a name") << "warning: cache is old\n{\"skill_name\":\"Ship\"}\n"
                                               << "Ship" << 0 << "" << 0 << false << QStringList();
    QTest::newRow("capability without evidence level") << R"({"capabilities":[{"capability":"deploy"}]})"
                                                       << "" << 1 << "unknown" << 0 << false << QStringList();
    QTest::newRow("second capability is a number")
        << R"({"skill_name":"S","capabilities":[{"capability":"a","evidence_level":"yes"},7],"required_artifacts":["pr"]})"
        << "S" << 0 << "" << 0 << false << QStringList({ "pr" });
    QTest::newRow("one validator value is text")
        << R"({"validators_available":{"lint":true,"tests":"yes"},"human_review":true})"
        << "" << 0 << "" << 0 << true << QStringList();
    QTest::newRow("text list with a number empties it") << R"({"required_artifacts":["pr",1],"skill_name":5})"
                                                        << "" << 0 << "" << 0 << false << QStringList();
}

void TestSkillContract::lenientDecoding()
{
    QFETCH(QString, output);
    QFETCH(QString, skillName);
    QFETCH(int, capabilities);
    QFETCH(QString, firstEvidenceLevel);
    QFETCH(int, validators);
    QFETCH(bool, humanReview);
    QFETCH(QStringList, artifacts);
    const auto result = SkillBridge::interpret(0, output);
    QVERIFY(std::holds_alternative<EmployeeSkillView>(result));
    const auto& view = std::get<EmployeeSkillView>(result);
    QCOMPARE(view.skillName, skillName);
    QCOMPARE(view.capabilities.size(), capabilities);
    if (capabilities > 0)
        QCOMPARE(view.capabilities.first().evidenceLevel, firstEvidenceLevel);
    QCOMPARE(view.validatorsAvailable.size(), validators);
    QCOMPARE(view.humanReview, humanReview);
    QCOMPARE(view.requiredArtifacts, artifacts);
}

void TestSkillContract::fullContract()
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
    QCOMPARE(v.employeeRole, QStringLiteral("ai_developer"));
    QCOMPARE(v.resolutionStatus, QStringLiteral("BLOCKED_VALIDATOR"));
    QCOMPARE(v.capabilities.size(), 1);
    QCOMPARE(v.capabilities[0].id(), QStringLiteral("edit"));
    QVERIFY(v.capabilities[0].sufficient);
    QCOMPARE(v.capabilities[0].runtimeCompatibility, QStringList({ "claude", "codex" }));
    QCOMPARE(v.validatorsAvailable.value(QStringLiteral("tests"), true), false);
    QCOMPARE(v.blocking.size(), 1);
    QCOMPARE(v.blocking[0].id(), QStringLiteral("validator:tests"));
    QCOMPARE(v.candidateRuntimes, QStringList({ "claude" }));
}

QTEST_GUILESS_MAIN(TestSkillContract)
#include "tst_SkillContract.moc"
