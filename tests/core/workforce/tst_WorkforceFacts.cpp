#include "core/workforce/WorkforceAggregator.h"

#include "WorkforceFixtures.h"

#include <QtTest>

using Commands = QList<CommandBrief>;
using Team = QList<TeammateBrief>;
using DeviceRuntimes = QMap<QString, QStringList>;
using Waiting = QSet<QString>;

Q_DECLARE_METATYPE(Commands)
Q_DECLARE_METATYPE(TeammateBrief)
Q_DECLARE_METATYPE(DeviceRuntimes)
Q_DECLARE_METATYPE(Waiting)
Q_DECLARE_METATYPE(TolvarineStatus)
Q_DECLARE_METATYPE(RuntimeAttribution)

namespace {

QStringList ids(const Commands& list)
{
    QStringList out;
    for (const auto& c : list)
        out << c.id;
    return out;
}

WorkforceFacts factsOf(const QString& id, const Team& team, const Commands& commands,
    const DeviceRuntimes& runtimes = {}, const Waiting& waiting = {})
{
    return WorkforceAggregator::facts(team, commands, runtimes, {}, waiting).value(id);
}

} // namespace

class TestWorkforceFacts : public QObject {
    Q_OBJECT
private slots:
    void statusLadder_data();
    void statusLadder();
    void attribution_data();
    void attribution();
    void commandLists();
    void upstreamNames();
    void sharedDevice();
    void readingsAndMachineLine();
    void emptyRoster();
};

void TestWorkforceFacts::statusLadder_data()
{
    QTest::addColumn<TeammateBrief>("mate");
    QTest::addColumn<Commands>("commands");
    QTest::addColumn<Waiting>("waiting");
    QTest::addColumn<TolvarineStatus>("status");

    const TeammateBrief tess = Mate("t", "Tess", "dev-1");
    using S = TolvarineStatus;
    QTest::newRow("approval beats running")
        << tess << Commands { Cmd("a", "claimed", "t") } << Waiting { "a" } << S::waitingApproval;
    QTest::newRow("blocked own") << tess << Commands { Cmd("b", "blocked", "t"), Cmd("f", "dependency_failed", "t") }
                                 << Waiting {} << S::waitingDependency;
    QTest::newRow("no device") << TeammateBrief(Mate("t", "Tess")) << Commands { Cmd("d", "done", "t").at(1) }
                               << Waiting {} << S::unassigned;
    QTest::newRow("device dead") << TeammateBrief(Mate("t", "Tess", "dev-1").alive(false))
                                 << Commands { Cmd("r", "runtime_unavailable", "t") } << Waiting {} << S::offline;
    QTest::newRow("runtime unavailable") << tess << Commands { Cmd("r", "runtime_unavailable", "t") } << Waiting {}
                                         << S::runtimeUnavailable;
    QTest::newRow("blocked queue anywhere")
        << tess << Commands { Cmd("d", "done", "t").at(3), Cmd("q", "blocked").by("dev-9") } << Waiting {}
        << S::waitingDependency;
    QTest::newRow("last failed") << tess << Commands { Cmd("d", "done", "t").at(1), Cmd("f", "failed", "t").at(2) }
                                 << Waiting {} << S::failed;
}

void TestWorkforceFacts::statusLadder()
{
    QFETCH(TeammateBrief, mate);
    QFETCH(Commands, commands);
    QFETCH(Waiting, waiting);
    QFETCH(TolvarineStatus, status);
    const Team team { mate, Mate("u", "Uma", "dev-2") };
    const auto f = factsOf("t", team, commands, {}, waiting);
    QCOMPARE(f.status, status);
}

void TestWorkforceFacts::attribution_data()
{
    QTest::addColumn<TeammateBrief>("mate");
    QTest::addColumn<Commands>("commands");
    QTest::addColumn<DeviceRuntimes>("registered");
    QTest::addColumn<RuntimeAttribution>("expected");

    const TeammateBrief tess = Mate("t", "Tess", "dev-1");
    const TeammateBrief loose = Mate("t", "Tess");
    using A = RuntimeAttribution;
    QTest::newRow("running names it") << tess
                                      << Commands { Cmd("d", "done", "t").rt("codex").at(9),
                                             Cmd("r", "claimed", "t").rt("claude-code") }
                                      << DeviceRuntimes {} << A::known("Claude Code");
    QTest::newRow("newest finished") << tess
                                     << Commands { Cmd("a", "done", "t").rt("codex").at(1),
                                            Cmd("b", "failed", "t").rt("gemini-cli").at(5), Cmd("r", "claimed", "t") }
                                     << DeviceRuntimes {} << A::lastKnown("Gemini CLI");
    QTest::newRow("device reading") << TeammateBrief(Mate("t", "Tess", "dev-1").runtime("gemini-cli")) << Commands {}
                                    << DeviceRuntimes { { "dev-1", { "codex", "pi" } } } << A::deviceOnly("Gemini CLI");
    QTest::newRow("several registered") << tess << Commands {} << DeviceRuntimes { { "dev-1", { "pi", "codex" } } }
                                        << A::ambiguous(2);
    QTest::newRow("no machine, nothing running")
        << loose << Commands { Cmd("d", "done", "t").at(1) } << DeviceRuntimes {} << A::noMachine();
    QTest::newRow("no machine, one claimant decides")
        << loose << Commands { Cmd("a", "claimed", "t").by("dev-3"), Cmd("b", "claimed", "t").by("dev-3") }
        << DeviceRuntimes { { "dev-3", { "codex" } } } << A::deviceOnly("Codex");
}

void TestWorkforceFacts::attribution()
{
    QFETCH(TeammateBrief, mate);
    QFETCH(Commands, commands);
    QFETCH(DeviceRuntimes, registered);
    QFETCH(RuntimeAttribution, expected);
    const auto f = factsOf("t", Team { mate }, commands, registered);
    QCOMPARE(f.runtime.kind, expected.kind);
    QCOMPARE(f.runtime.name, expected.name);
    QCOMPARE(f.runtime.count, expected.count);
}

void TestWorkforceFacts::commandLists()
{
    const Team team { Mate("t", "Tess", "dev-1"), Mate("n", "Nia") };
    const Commands commands {
        Cmd("own-b", "blocked", "t"),
        Cmd("m-b", "blocked").by("dev-1"),
        Cmd("m-f", "dependency_failed").by("dev-1"),
        Cmd("own-f", "dependency_failed", "t"),
        Cmd("m-r", "claimed").by("dev-1"),
        Cmd("own-r", "claimed", "t").by("dev-9"),
        Cmd("free", "claimed"),
        Cmd("q", "blocked"),
    };
    const auto all = WorkforceAggregator::facts(team, commands, {}, {}, {});
    const auto& t = all.value("t");
    QCOMPARE(ids(t.running), QStringList({ "own-r", "m-r" }));
    QCOMPARE(ids(t.blockedMine), QStringList({ "own-b" }));
    QCOMPARE(ids(t.blockedQueue), QStringList({ "m-b", "q" }));
    QCOMPARE(ids(t.dependencyFailedMine), QStringList({ "own-f" }));
    QCOMPARE(t.lastFinished->id, QStringLiteral("m-f"));

    // Without a device, unclaimed work of no employee is never taken.
    const auto& n = all.value("n");
    QVERIFY(n.running.isEmpty());
    QCOMPARE(ids(n.blockedQueue), QStringList({ "m-b", "q" }));
    QVERIFY(!n.lastFinished);
    QCOMPARE(n.status, TolvarineStatus::unassigned);
    QCOMPARE(n.runtime, RuntimeAttribution::noMachine());
}

void TestWorkforceFacts::upstreamNames()
{
    const Team team { Mate("t", "Tess", "dev-1"), Mate("a", "Ada", "dev-2"), Mate("b", "Bo", "dev-3") };
    const Commands commands {
        Cmd("up1", "claimed", "b"),
        Cmd("up2", "done", "a"),
        Cmd("up3", "failed", "a"),
        Cmd("up1", "done", "a"), // repeated id: the first one is the one dependencies reach
        Cmd("ghost", "failed", "zed"),
        Cmd("x1", "blocked", "t").deps({ "up1", "up2", "missing", "ghost" }),
        Cmd("x2", "blocked", "t").deps({ "up3", "up1" }),
        Cmd("y1", "dependency_failed", "t").deps({ "up2", "up1", "up3" }),
    };
    const auto f = factsOf("t", team, commands);
    QCOMPARE(f.waitingOnNames, QStringList({ "Bo", "Ada" }));
    QCOMPARE(f.failedUpstreamNames, QStringList({ "Bo", "Ada" }));

    const Commands onlyDone { Cmd("u", "done", "a"), Cmd("y", "dependency_failed", "t").deps({ "u" }) };
    QVERIFY(factsOf("t", team, onlyDone).failedUpstreamNames.isEmpty());
}

void TestWorkforceFacts::sharedDevice()
{
    const Team team { Mate("a", "Ada", "box"), Mate("b", "Bo", "box"), Mate("c", "Cy", "box"),
        Mate("s", "Sol", "solo") };
    // Unowned work on the shared machine: every colleague on it is ambiguous.
    {
        const auto all = WorkforceAggregator::facts(team, { Cmd("m", "claimed").by("box") }, {}, {}, {});
        for (const char* id : { "a", "b", "c" }) {
            QVERIFY2(all.value(id).ambiguousOwnership, id);
            QCOMPARE(all.value(id).status, TolvarineStatus::running);
        }
        QVERIFY(!all.value("s").ambiguousOwnership);
    }
    // Owned work is never ambiguous, even on a shared machine.
    {
        const auto all = WorkforceAggregator::facts(team, { Cmd("o", "claimed", "a").by("box") }, {}, {}, {});
        QVERIFY(!all.value("a").ambiguousOwnership);
        QVERIFY(!all.value("b").ambiguousOwnership);
    }
    // Finished unowned work: idle instead of the finished status.
    {
        const auto all = WorkforceAggregator::facts(team, { Cmd("m", "failed").by("box").at(2) }, {}, {}, {});
        QVERIFY(all.value("b").ambiguousOwnership);
        QCOMPARE(all.value("b").status, TolvarineStatus::idle);
    }
    // Alone on a machine, unowned finished work is simply its own.
    {
        const auto all = WorkforceAggregator::facts(team, { Cmd("m", "failed").by("solo").at(2) }, {}, {}, {});
        QVERIFY(!all.value("s").ambiguousOwnership);
        QCOMPARE(all.value("s").status, TolvarineStatus::failed);
    }
}

void TestWorkforceFacts::readingsAndMachineLine()
{
    const Team team { Mate("a", "Ada", "box").task("整理发票"), Mate("b", "Bo", "box2").alive(std::nullopt),
        Mate("c", "Cy").alive(true) };
    const auto all = WorkforceAggregator::facts(team, {}, {}, {}, {});
    QVERIFY(all.value("a").hasReading);
    QCOMPARE(all.value("a").machineWorkLine, std::optional<QString>(QStringLiteral("它那台机器正在跑：整理发票")));
    QVERIFY(!all.value("b").hasReading);
    QVERIFY(!all.value("b").machineWorkLine);
    QVERIFY(!all.value("c").hasReading); // no device, whatever the reading says
}

void TestWorkforceFacts::emptyRoster()
{
    QVERIFY(WorkforceAggregator::facts({}, { Cmd("a", "claimed", "x") }, {}, {}, {}).isEmpty());
    // A repeated roster id keeps the first teammate's record.
    const auto all = WorkforceAggregator::facts({ Mate("a", "Ada", "box"), Mate("a", "Again") }, {}, {}, {}, {});
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.value("a").status, TolvarineStatus::idle);
}

QTEST_GUILESS_MAIN(TestWorkforceFacts)
#include "tst_WorkforceFacts.moc"
