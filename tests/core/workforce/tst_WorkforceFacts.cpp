// The shared workforce derivation: the facts per employee, the runtimes'
// names and who they serve, the snapshot, and that the model derives it once
// per publication of the status model and announces nothing when nothing changed.
#include "core/gateway/Status.h"
#include "core/workforce/RuntimeName.h"
#include "core/workforce/RuntimeServingMap.h"
#include "core/workforce/WorkforceAggregator.h"
#include "core/workforce/WorkforceModel.h"

#include "SimGateway.h"
#include "TempHome.h"
#include "WorkforceFixtures.h"

#include <QCoroTask>
#include <QSignalSpy>
#include <QtTest>

using Commands = QList<CommandBrief>;
using Team = QList<TeammateBrief>;
using DeviceRuntimes = QMap<QString, QStringList>;
using Waiting = QSet<QString>;

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

WorkforceSnapshot derive(const Team& team, const Commands& commands)
{
    WorkforceSnapshot::Inputs in;
    in.team = team;
    in.commands = commands;
    return WorkforceSnapshot::derive(in);
}

} // namespace

class TestWorkforceFacts : public QObject {
    Q_OBJECT
private slots:
    void statusLadder_data()
    {
        QTest::addColumn<TeammateBrief>("mate");
        QTest::addColumn<Commands>("commands");
        QTest::addColumn<Waiting>("waiting");
        QTest::addColumn<TolvarineStatus>("status");

        const TeammateBrief tess = Mate("t", "Tess", "dev-1");
        const auto add
            = [](const char* name, const TeammateBrief& mate, const Commands& commands, TolvarineStatus status,
                  const Waiting& waiting = {}) { QTest::newRow(name) << mate << commands << waiting << status; };
        using S = TolvarineStatus;
        add("approval beats running", tess, { Cmd("a", "claimed", "t") }, S::waitingApproval, { "a" });
        add("blocked own", tess, { Cmd("b", "blocked", "t"), Cmd("f", "dependency_failed", "t") },
            S::waitingDependency);
        add("no device", Mate("t", "Tess"), { Cmd("d", "done", "t").at(1) }, S::unassigned);
        add("device dead", Mate("t", "Tess", "dev-1").alive(false), { Cmd("r", "runtime_unavailable", "t") },
            S::offline);
        add("runtime unavailable", tess, { Cmd("r", "runtime_unavailable", "t") }, S::runtimeUnavailable);
        add("blocked queue anywhere", tess, { Cmd("d", "done", "t").at(3), Cmd("q", "blocked").by("dev-9") },
            S::waitingDependency);
        add("last failed", tess, { Cmd("d", "done", "t").at(1), Cmd("f", "failed", "t").at(2) }, S::failed);
    }

    void statusLadder()
    {
        QFETCH(TeammateBrief, mate);
        QFETCH(Commands, commands);
        QFETCH(Waiting, waiting);
        QFETCH(TolvarineStatus, status);
        QCOMPARE(factsOf("t", { mate, Mate("u", "Uma", "dev-2") }, commands, {}, waiting).status, status);
    }

    void attribution_data()
    {
        QTest::addColumn<TeammateBrief>("mate");
        QTest::addColumn<Commands>("commands");
        QTest::addColumn<DeviceRuntimes>("registered");
        QTest::addColumn<RuntimeAttribution>("expected");

        const TeammateBrief tess = Mate("t", "Tess", "dev-1");
        const TeammateBrief loose = Mate("t", "Tess");
        const auto add = [](const char* name, const TeammateBrief& mate, const Commands& commands,
                             const RuntimeAttribution& expected, const DeviceRuntimes& registered = {}) {
            QTest::newRow(name) << mate << commands << registered << expected;
        };
        using A = RuntimeAttribution;
        add("running names it", tess,
            { Cmd("d", "done", "t").rt("codex").at(9), Cmd("r", "claimed", "t").rt("claude-code") },
            A::known("Claude Code"));
        add("newest finished", tess,
            { Cmd("a", "done", "t").rt("codex").at(1), Cmd("b", "failed", "t").rt("gemini-cli").at(5),
                Cmd("r", "claimed", "t") },
            A::lastKnown("Gemini CLI"));
        add("device reading", Mate("t", "Tess", "dev-1").runtime("gemini-cli"), {}, A::deviceOnly("Gemini CLI"),
            { { "dev-1", { "codex", "pi" } } });
        add("several registered", tess, {}, A::ambiguous(2), { { "dev-1", { "pi", "codex" } } });
        add("no machine, nothing running", loose, { Cmd("d", "done", "t").at(1) }, A::noMachine());
        add("no machine, one claimant decides", loose,
            { Cmd("a", "claimed", "t").by("dev-3"), Cmd("b", "claimed", "t").by("dev-3") }, A::deviceOnly("Codex"),
            { { "dev-3", { "codex" } } });
    }

    void attribution()
    {
        QFETCH(TeammateBrief, mate);
        QFETCH(Commands, commands);
        QFETCH(DeviceRuntimes, registered);
        QFETCH(RuntimeAttribution, expected);
        QCOMPARE(factsOf("t", Team { mate }, commands, registered).runtime, expected);
    }

    void commandLists()
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
            // The machine's work with the id of its own: not taken again.
            Cmd("own-r", "done").by("dev-1"),
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
    }

    void upstreamNames()
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

    void sharedDevice()
    {
        const Team team { Mate("a", "Ada", "box"), Mate("b", "Bo", "box"), Mate("c", "Cy", "box"),
            Mate("s", "Sol", "solo") };
        const auto with
            = [&team](const CommandBrief& c) { return WorkforceAggregator::facts(team, { c }, {}, {}, {}); };
        // Unowned work on the shared machine: every colleague on it is ambiguous.
        auto all = with(Cmd("m", "claimed").by("box"));
        for (const char* id : { "a", "b", "c" }) {
            QVERIFY2(all.value(id).ambiguousOwnership, id);
            QCOMPARE(all.value(id).status, TolvarineStatus::running);
        }
        QVERIFY(!all.value("s").ambiguousOwnership);
        // Owned work is never ambiguous, even on a shared machine.
        all = with(Cmd("o", "claimed", "a").by("box"));
        QVERIFY(!all.value("a").ambiguousOwnership);
        QVERIFY(!all.value("b").ambiguousOwnership);
        // Finished unowned work: idle instead of the finished status.
        all = with(Cmd("m", "failed").by("box").at(2));
        QVERIFY(all.value("b").ambiguousOwnership);
        QCOMPARE(all.value("b").status, TolvarineStatus::idle);
        // Alone on a machine, unowned finished work is simply its own.
        all = with(Cmd("m", "failed").by("solo").at(2));
        QVERIFY(!all.value("s").ambiguousOwnership);
        QCOMPARE(all.value("s").status, TolvarineStatus::failed);
    }

    void readingsAndRoster()
    {
        // A repeated roster id keeps the first teammate's record.
        const Team team { Mate("a", "Ada", "box").task("整理发票"), Mate("b", "Bo", "box2").alive(std::nullopt),
            Mate("c", "Cy").alive(true), Mate("a", "Again") };
        const auto all = WorkforceAggregator::facts(team, {}, {}, {}, {});
        QCOMPARE(all.size(), 3);
        QVERIFY(all.value("a").hasReading && all.value("a").machineWorkLine);
        QVERIFY(!all.value("b").hasReading && !all.value("b").machineWorkLine);
        QVERIFY(!all.value("c").hasReading); // no device, whatever the reading says
    }

    void runtimeName_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("withCatalog");
        QTest::addColumn<QString>("name");
        QTest::newRow("padded gateway id") << " \tclaude-code  " << false << "Claude Code";
        QTest::newRow("catalogue wins") << "claude-code" << true << "Claude (local)";
        QTest::newRow("blanks only") << QStringLiteral(" \t\u3000 ") << false << "";
        QTest::newRow("line break is not a blank") << "codex\n" << false << "codex\n";
    }

    void runtimeName()
    {
        QFETCH(QString, id);
        QFETCH(bool, withCatalog);
        QFETCH(QString, name);
        RuntimeCatalog catalog;
        if (withCatalog)
            catalog.insert(QStringLiteral("claude"), QStringLiteral("Claude (local)"));
        QCOMPARE(RuntimeName::friendly(id, catalog), name);
    }

    void runtimeServing()
    {
        const Team team { Mate("e1", "Ada"), Mate("e2", "Bo"), Mate("e1", "Shadow") };
        const Commands commands {
            Cmd("c1", "done", "e1").rt("claude-code").at(1),
            Cmd("c2", "claimed", "e2").rt("claude-code"),
            Cmd("c3", "failed", "e1").rt("codex").at(2),
            Cmd("c4", "done", "e2").rt("codex").at(5),
            Cmd("c5", "unsupported").rt("codex"),
            Cmd("c6", "claimed", "e1"),
            Cmd("c7", "pending", "e1").rt("gemini-cli"),
            Cmd("c8", "claimed", "ghost").rt("claude-code"),
            Cmd("c9", "dependency_failed", "e2").rt("gemini-cli"),
            Cmd("c10", "done", "e1").rt("kimi-code"),
            Cmd("c11", "done", "e2").rt("kimi-code"),
        };
        const auto map = RuntimeServingMap::build(commands, team, {});
        QCOMPARE(map.size(), 4);
        // Running work hides the older finished one; every running command is listed.
        QCOMPARE(map.value("claude"),
            QList<RuntimeServing>({ { QString("Bo"), "task c2", true }, { std::nullopt, "task c8", true } }));
        // Only finished: the newest alone.
        QCOMPARE(map.value("codex"), QList<RuntimeServing>({ { QString("Bo"), "task c4", false } }));
        QCOMPARE(map.value("gemini"), QList<RuntimeServing>({ { QString("Bo"), "task c9", false } }));
        // Equal (missing) times keep command-list order; the first teammate of an id wins.
        QCOMPARE(map.value("kimi"), QList<RuntimeServing>({ { QString("Ada"), "task c10", false } }));
        // Equal times keep list order too; a time beats a missing one listed earlier.
        const auto tied = RuntimeServingMap::build(
            { Cmd("t0", "done", "e2").rt("pi"), Cmd("t1", "failed", "e2").rt("pi").at(3),
                Cmd("t2", "done", "e1").rt("pi").at(3), Cmd("t3", "done", "e1").rt("pi").at(2) },
            team, {});
        QCOMPARE(tied.value("pi"), QList<RuntimeServing>({ { QString("Bo"), "task t1", false } }));

        // Padded and cased ids share one key; a blank runtime serves nothing.
        const auto keyed = RuntimeServingMap::build(
            { Cmd("a", "claimed", "e1").rt(" Claude-Code ").text("same"),
                Cmd("b", "claimed", "e1").rt("claude").text("same"), Cmd("c", "claimed", "e1").rt("My-Agent"),
                Cmd("d", "claimed", "e1").rt("   ") },
            team, { { "claude", "Named" } });
        QVERIFY(keyed.size() == 2 && keyed.value("my-agent").size() == 1);
        QCOMPARE(keyed.value("claude"), QList<RuntimeServing>(2, { QString("Ada"), "same", true }));
    }

    void collaborationShows()
    {
        const Team team { Mate("a", "Ada", "d1"), Mate("b", "Bo", "d1") };
        QVERIFY(
            derive(team, { Cmd("a1", "claimed", "a"), Cmd("b1", "blocked", "b").deps({ "a1" }) }).showsCollaboration());
        // Edges only between employees who are not on the roster draw no node.
        QVERIFY(
            !derive(team, { Cmd("x1", "done", "x"), Cmd("y1", "blocked", "y").deps({ "x1" }) }).showsCollaboration());
    }

    void recentFinished()
    {
        const WorkforceSnapshot s = derive({ Mate("a", "Ada", "d1") },
            { Cmd("old", "done", "a").at(1), Cmd("none1", "failed", "a"), Cmd("new", "unsupported", "a").at(9),
                Cmd("run", "claimed", "a"), Cmd("wait", "pending", "a"), Cmd("mid", "dependency_failed", "a").at(5),
                Cmd("none2", "done", "a"), Cmd("tie", "done", "a").at(5), Cmd("machine", "done").by("d1").at(8),
                Cmd("other", "done", "b").at(7) });
        QCOMPARE(ids(s.recentFinished("a")), QStringList({ "new", "mid", "tie", "old", "none1", "none2" }));
        QVERIFY(s.recentFinished("nobody").isEmpty());
        // An employee without facts gets the placeholder.
        QCOMPARE(s.facts("nobody"), WorkforceFacts::placeholder());
    }

    void oneDerivationPerPublication()
    {
        TempHome home;
        SimGateway sim;
        QVERIFY2(sim.ok(), sim.output().constData());
        Status status;
        WorkforceModel model(&status, nullptr);
        QSignalSpy changed(&model, &WorkforceModel::changed);

        // The loaders publish one after another: each publication is derived once.
        QCoro::waitFor(status.reload(sim.config()));
        QTRY_VERIFY(!model.snapshot().workforceFacts.isEmpty());
        QTest::qWait(50);
        const qsizetype announced = changed.size();
        const quint64 derived = model.derivations();
        QVERIFY(announced >= 1 && derived >= quint64(announced));
        // Every reader shares the one derivation.
        for (int i = 0; i < 5; ++i)
            QVERIFY(!model.snapshot().team.isEmpty());
        QCOMPARE(model.derivations(), derived);
        QCOMPARE(model.snapshot().workforceFacts.size(), qsizetype(status.team().size()));

        // A reload with nothing new derives nothing and announces nothing.
        QCoro::waitFor(status.reload(sim.config()));
        QTest::qWait(50);
        QCOMPARE(model.derivations(), derived);
        QCOMPARE(changed.size(), announced); // a change is announced: the team section's reload test
    }
};

QTEST_MAIN(TestWorkforceFacts)
#include "tst_WorkforceFacts.moc"
