// The shared workforce derivation: what the snapshot holds, and that the
// model derives it once per publication of the status model, for every
// reader, and announces only a snapshot that changed.
#include "core/gateway/Status.h"
#include "core/runtimes/RuntimeCatalog.h"
#include "core/workforce/WorkforceModel.h"

#include "SimGateway.h"
#include "TempHome.h"
#include "WorkforceFixtures.h"

#include <QSignalSpy>
#include <QtTest>

#include <QCoroTask>

namespace {

WorkforceSnapshot derive(const QList<TeammateBrief>& team, const QList<CommandBrief>& commands)
{
    WorkforceSnapshot::Inputs in;
    in.team = team;
    in.commands = commands;
    return WorkforceSnapshot::derive(in);
}

QStringList ids(const QList<CommandBrief>& commands)
{
    QStringList out;
    for (const CommandBrief& c : commands)
        out << c.id;
    return out;
}

} // namespace

class TestWorkforceModel : public QObject {
    Q_OBJECT
private slots:
    void collaborationShows();
    void recentFinished();
    void thisMachineAndCatalog();
    void oneDerivationPerPublication();
};

void TestWorkforceModel::collaborationShows()
{
    const QList<TeammateBrief> team { Mate("a", "Ada", "d1"), Mate("b", "Bo", "d1") };
    const QList<CommandBrief> linked { Cmd("a1", "claimed", "a"), Cmd("b1", "blocked", "b").deps({ "a1" }) };
    QVERIFY(derive(team, linked).showsCollaboration());
    // No dependency between employees, or no roster: nothing to draw.
    QVERIFY(!derive(team, { Cmd("a1", "claimed", "a") }).showsCollaboration());
    QVERIFY(!derive({}, linked).showsCollaboration());
    // Edges only between employees who are not on the roster draw no node.
    const WorkforceSnapshot strangers
        = derive(team, { Cmd("x1", "done", "x"), Cmd("y1", "blocked", "y").deps({ "x1" }) });
    QVERIFY(!strangers.collabGraph.edges.isEmpty());
    QVERIFY(strangers.collabGraph.nodes.isEmpty());
    QVERIFY(!strangers.showsCollaboration());
}

void TestWorkforceModel::recentFinished()
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

void TestWorkforceModel::thisMachineAndCatalog()
{
    QCOMPARE(WorkforceSnapshot::thisMachineOf(std::nullopt), QString());
    CLIConfig c;
    c.device = QStringLiteral("dev-1");
    QCOMPARE(WorkforceSnapshot::thisMachineOf(c), QStringLiteral("dev-1"));
    c.device = QString();
    QCOMPARE(WorkforceSnapshot::thisMachineOf(c), QStringLiteral("cli-") + CLIConfig::hostname());

    RuntimeRow first;
    first.kind = QStringLiteral("claude");
    first.display = QStringLiteral("Claude Code");
    RuntimeRow again = first;
    again.display = QStringLiteral("Claude (second)");
    QCOMPARE(runtimeCatalog({ first, again }), (RuntimeCatalog { { "claude", "Claude Code" } }));
    QVERIFY(runtimeCatalog({}).isEmpty());
}

void TestWorkforceModel::oneDerivationPerPublication()
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
    QCOMPARE(changed.size(), announced);

    // A change of one employee is announced.
    QJsonObject state = sim.control("GET", "/_sim/state/ws-demo").object();
    QJsonArray employees = state.value("employees").toArray();
    QJsonObject first = employees.at(0).toObject();
    first.insert("name", "改名了");
    employees.replace(0, first);
    sim.control("PATCH", "/_sim/state/ws-demo", QJsonObject { { "employees", employees } });
    QCoro::waitFor(status.reload(sim.config()));
    QTRY_COMPARE(changed.size(), announced + 1);
    QCOMPARE(model.snapshot().team.first().name, QStringLiteral("改名了"));
}

QTEST_MAIN(TestWorkforceModel)
#include "tst_WorkforceModel.moc"
