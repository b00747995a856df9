#include "core/gateway/CLI.h"
#include "core/workforce/SkillLoader.h"
#include "core/workforce/SkillRoleKey.h"

#include "TempHome.h"

#include <QCoroTask>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

} // namespace

class TestSkillLoader : public QObject {
    Q_OBJECT
private slots:
    void loadsFromTheTool();
    void failures();
    void staleRoleIsDropped();
};

void TestSkillLoader::loadsFromTheTool()
{
    TempHome home;
    home.installTool(Sim::companion());
    SkillLoader loader;
    const QString role = skillRoleKey("  AI Full-Stack Engineer ").value_or(QString());
    QCOMPARE(role, QStringLiteral("ai_developer"));
    QCoro::waitFor(loader.load(role, CLIConfig { "http://127.0.0.1:1", "ws-demo", "tok" }));
    QVERIFY2(loader.skill(), qPrintable(loader.skillError().value_or("")));
    QVERIFY(!loader.skillError());
    QCOMPARE(loader.skill()->employeeRole, role);
    QVERIFY(!loader.skill()->capabilities.isEmpty());

    // An empty role runs nothing and keeps what is shown.
    const auto before = loader.skill();
    QSignalSpy spy(&loader, &SkillLoader::changed);
    QCoro::waitFor(loader.load(QString(), std::nullopt));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(loader.skill(), before);
}

void TestSkillLoader::failures()
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
void TestSkillLoader::staleRoleIsDropped()
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

QTEST_GUILESS_MAIN(TestSkillLoader)
#include "tst_SkillLoader.moc"
