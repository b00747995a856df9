#include "core/workforce/CollabCopy.h"
#include "core/workforce/CollabGraph.h"
#include "core/workforce/WorkforceAggregator.h"

#include "WorkforceFixtures.h"

#include <QtTest>

using Commands = QList<CommandBrief>;
using Team = QList<TeammateBrief>;

namespace {

CollabGraph graphOf(const Team& team, const Commands& commands)
{
    return CollabGraph::build(team, commands, WorkforceAggregator::facts(team, commands, {}, {}, {}));
}

QStringList nodeIDs(const CollabGraph& g)
{
    QStringList out;
    for (const auto& n : g.nodes)
        out << n.id;
    return out;
}

} // namespace

class TestCollabGraph : public QObject {
    Q_OBJECT
private slots:
    void edges();
    void absentEmployees();
    void subtitles_data();
    void subtitles();
    void fanInOrder();
    void copy_data();
    void copy();
};

void TestCollabGraph::edges()
{
    const Team team { Mate("a", "Ada", "d1"), Mate("b", "Bo", "d2"), Mate("c", "Cy", "d3"), Mate("idle", "Ida", "d4") };
    const Commands commands {
        Cmd("a1", "done", "a"),
        Cmd("a2", "failed", "a"),
        Cmd("a1", "failed", "c"), // repeated id: the first wins
        Cmd("own", "done", "b"),
        Cmd("free", "done"),
        Cmd("b1", "blocked", "b").deps({ "a1", "a2", "own", "free", "nowhere" }),
        Cmd("b2", "blocked", "b").deps({ "a1" }),
        Cmd("b3", "blocked", "b").deps({ "own" }),
        Cmd("u", "blocked").deps({ "a1" }), // no employee: no edge
        Cmd("c1", "dependency_failed", "c").deps({ "a2", "b1" }),
    };
    const CollabGraph g = graphOf(team, commands);
    QCOMPARE(g.edges,
        QList<CollabEdge>({ { "a", "b", false }, { "a", "b", true }, { "a", "c", true }, { "b", "c", false } }));
    QCOMPARE(nodeIDs(g), QStringList({ "a", "b", "c" }));

    const auto fan = g.fanIn();
    QCOMPARE(fan.size(), 2);
    QCOMPARE(fan[0].target.id, QStringLiteral("b"));
    QCOMPARE(fan[0].sources.size(), 2); // the same upstream once per edge
    QCOMPARE(fan[0].sources[0].id, QStringLiteral("a"));
    QCOMPARE(fan[0].sources[1].id, QStringLiteral("a"));
    QCOMPARE(fan[1].target.id, QStringLiteral("c"));
    QCOMPARE(fan[1].sources.size(), 2);
}

void TestCollabGraph::absentEmployees()
{
    const Team team { Mate("a", "Ada") };
    const CollabGraph g = graphOf(team, { Cmd("x", "done", "p"), Cmd("y", "blocked", "q").deps({ "x" }) });
    QCOMPARE(g.edges, QList<CollabEdge>({ { "p", "q", false } }));
    QVERIFY(g.nodes.isEmpty());
    QVERIFY(g.fanIn().isEmpty());

    // A target with a node keeps its pair even when no source has one.
    const Team withTarget { Mate("q", "Quinn") };
    const auto fan = graphOf(withTarget, { Cmd("x", "done", "p"), Cmd("y", "blocked", "q").deps({ "x" }) }).fanIn();
    QCOMPARE(fan.size(), 1);
    QVERIFY(fan[0].sources.isEmpty());
}

void TestCollabGraph::subtitles_data()
{
    QTest::addColumn<TeammateBrief>("mate");
    QTest::addColumn<Commands>("commands");
    QTest::addColumn<QString>("subtitle");

    const TeammateBrief tess = Mate("t", "Tess", "d1").role("AI Researcher");
    QTest::newRow("running: its first task")
        << tess << Commands { Cmd("r1", "claimed", "t").text("写周报"), Cmd("r2", "claimed", "t") } << "写周报";
    QTest::newRow("waiting on names") << tess
                                      << Commands { Cmd("u1", "claimed", "a"), Cmd("u2", "done", "b"),
                                             Cmd("w", "blocked", "t").deps({ "u1", "u2" }) }
                                      << "等待 Ada 和 Bo 完成";
    QTest::newRow("waiting on nothing known")
        << tess << Commands { Cmd("w", "blocked", "t").deps({ "gone" }) } << "在等一件还没开始的事";
    QTest::newRow("dependency failed") << tess
                                       << Commands { Cmd("u", "failed", "a"),
                                              Cmd("f", "dependency_failed", "t").deps({ "u" }) }
                                       << "Ada 那一步失败了，它没法开始";
    QTest::newRow("unassigned") << TeammateBrief(Mate("t", "Tess").role("AI Researcher")) << Commands {}
                                << "还没分到机器";
    QTest::newRow("idle: role title") << tess << Commands {} << "AI Researcher";
}

void TestCollabGraph::subtitles()
{
    QFETCH(TeammateBrief, mate);
    QFETCH(Commands, commands);
    QFETCH(QString, subtitle);
    const Team team { mate, Mate("a", "Ada", "d2"), Mate("b", "Bo", "d3") };
    // Only the node of `t` matters; with edges it is among the involved ones.
    const CollabGraph g = graphOf(team, commands);
    const auto it = std::find_if(g.nodes.cbegin(), g.nodes.cend(), [](const CollabNode& n) { return n.id == "t"; });
    QVERIFY(it != g.nodes.cend());
    QCOMPARE(it->subtitle, subtitle);
}

void TestCollabGraph::fanInOrder()
{
    // UTF-16 order would put the emoji (a surrogate pair) before the
    // full-width letter; by code point it comes last.
    const QString emoji = QStringLiteral("\U0001F600");
    const QString wide = QStringLiteral("\uFF21");
    const Team team { Mate("s", "Src"), Mate("e", emoji), Mate("w", wide), Mate("z", "Zoe"), Mate("z2", "Zoe") };
    const Commands commands {
        Cmd("s1", "done", "s"),
        Cmd("e1", "blocked", "e").deps({ "s1" }),
        Cmd("w1", "blocked", "w").deps({ "s1" }),
        Cmd("z1", "blocked", "z").deps({ "s1" }),
        Cmd("z2", "blocked", "z2").deps({ "s1" }),
    };
    QStringList order;
    for (const auto& pair : graphOf(team, commands).fanIn())
        order << pair.target.id;
    QCOMPARE(order, QStringList({ "z", "z2", "w", "e" }));

    // No facts for a node: unassigned, no reading, empty subtitle.
    const CollabGraph bare = CollabGraph::build(team, commands, {});
    QCOMPARE(bare.nodes.first().status, TolvarineStatus::unassigned);
    QVERIFY(!bare.nodes.first().hasReading);
    QVERIFY(bare.nodes.first().subtitle.isEmpty());
}

void TestCollabGraph::copy_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("waiting");
    QTest::addColumn<QString>("failed");
    QTest::newRow("none") << QStringList() << "在等一件还没开始的事"
                          << "前面一步失败了，它没法开始";
    QTest::newRow("one") << QStringList({ "甲" }) << "等待 甲 完成"
                         << "甲 那一步失败了，它没法开始";
    QTest::newRow("four") << QStringList({ "甲", "乙", "丙", "丁" }) << "等待 甲、乙、丙 和 丁 完成"
                          << "甲、乙、丙 和 丁 那几步失败了，它没法开始";
}

void TestCollabGraph::copy()
{
    QFETCH(QStringList, names);
    QFETCH(QString, waiting);
    QFETCH(QString, failed);
    QCOMPARE(CollabCopy::waitingFor(names), waiting);
    QCOMPARE(CollabCopy::blockedByFailure(names), failed);
}

QTEST_GUILESS_MAIN(TestCollabGraph)
#include "tst_CollabGraph.moc"
