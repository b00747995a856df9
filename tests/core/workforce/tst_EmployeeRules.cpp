// What the team views decide without drawing: the card's work lines, the
// detail pane's sections, the recent-work note, the skill section's words
// and the collaboration diagram: its graph, layout and words.
#include "core/design/DS.h"
#include "core/workforce/CollabCopy.h"
#include "core/workforce/CollabGraph.h"
#include "core/workforce/CollabLayout.h"
#include "core/workforce/EmployeeRules.h"
#include "core/workforce/SkillCopy.h"
#include "core/workforce/WorkforceAggregator.h"

#include "WorkforceFixtures.h"

#include <QtTest>

using namespace EmployeeRules;
using State = CardWork::State;
using Commands = QList<CommandBrief>;
using Team = QList<TeammateBrief>;

namespace {

WorkforceFacts factsOf(
    const TeammateBrief& t, const QList<CommandBrief>& commands, const QList<TeammateBrief>& more = {})
{
    return WorkforceAggregator::facts(QList<TeammateBrief> { t } + more, commands, {}, {}, {}).value(t.id);
}

CollabGraph graphOf(const Team& team, const Commands& commands)
{
    return CollabGraph::build(team, commands, WorkforceAggregator::facts(team, commands, {}, {}, {}));
}

} // namespace

class TestEmployeeRules : public QObject {
    Q_OBJECT
private slots:
    void recentLines_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<bool>("shared");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("partial") << "done"
                                 << "PARTIAL_SUCCESS" << false << "最近这一件只完成了一部分：";
        QTest::newRow("partial, machine") << "done"
                                          << "PARTIAL_SUCCESS" << true << "这台机器最近跑完了一部分（不完整）：";
        QTest::newRow("done") << "done"
                              << "SUCCESS" << false << "最近完成：";
        QTest::newRow("done, machine") << "done"
                                       << "" << true << "这台机器最近跑完：";
        QTest::newRow("failed") << "failed"
                                << "PARTIAL_SUCCESS" << false << "最近这一件没成：";
        QTest::newRow("unsupported, machine") << "unsupported"
                                              << "" << true << "这台机器最近这一趟没成：";
        QTest::newRow("case counts") << "Done"
                                     << "" << false << "最近这一件没成：";
    }

    void recentLines()
    {
        QFETCH(QString, status);
        QFETCH(QString, verdict);
        QFETCH(bool, shared);
        QFETCH(QString, prefix);
        QCOMPARE(recentLine(Cmd("x", status).verdict(verdict).text("写周报"), shared), prefix + "写周报");
    }

    void cardWork()
    {
        // The machine's own line wins over running commands, and says nothing of how many.
        const TeammateBrief busy = Mate("a", "Ada", "d1").task("重写接口");
        QList<CommandBrief> four { Cmd("r1", "claimed", "a"), Cmd("r2", "claimed", "a"), Cmd("r3", "claimed", "a"),
            Cmd("r4", "claimed", "a") };
        CardWork w = EmployeeRules::cardWork(busy, factsOf(busy, four));
        QCOMPARE(w.machineLine->text, QStringLiteral("它那台机器正在跑：重写接口"));
        QVERIFY(w.running.isEmpty());
        QCOMPARE(w.runningBeyond, 0);
        QCOMPARE(w.state, State::none);

        // Without it: three labels and the rest counted.
        const TeammateBrief plain = Mate("a", "Ada", "d1");
        w = EmployeeRules::cardWork(plain, factsOf(plain, four));
        QCOMPARE(w.running.size(), 3);
        QCOMPARE(w.runningBeyond, 1);
        QCOMPARE(runningBeyondText(1), QStringLiteral("还有 1 条正在跑（详情里全列）"));
        QCOMPARE(EmployeeRules::cardWork(plain, factsOf(plain, four.mid(0, 3))).runningBeyond, 0);

        // No machine says so whatever else shows.
        const TeammateBrief nomad = Mate("a", "Ada");
        QCOMPARE(EmployeeRules::cardWork(nomad, factsOf(nomad, four)).state, State::noMachine);

        // Blocked work of nobody makes everyone wait, with nobody named and no idle line.
        w = EmployeeRules::cardWork(plain, factsOf(plain, { Cmd("q", "blocked") }));
        QCOMPARE(w.waiting->text, QStringLiteral("在等一件还没开始的事"));
        QCOMPARE(w.state, State::none);

        QCOMPARE(EmployeeRules::cardWork(plain, factsOf(plain, {})).state, State::neverWorked);

        // The last finished line: partial amber, done muted with a check, failed red
        // unless the work was the shared machine's.
        w = EmployeeRules::cardWork(plain, factsOf(plain, { Cmd("p", "done", "a").verdict("PARTIAL_SUCCESS") }));
        QCOMPARE(w.lastFinished->colour, DS::amber());
        QCOMPARE(w.lastFinished->symbol, QStringLiteral("exclamationmark"));
        w = EmployeeRules::cardWork(plain, factsOf(plain, { Cmd("d", "done", "a") }));
        QCOMPARE(w.lastFinished->symbol, QStringLiteral("checkmark"));
        QCOMPARE(w.lastFinished->colour, DS::muted(0.55));
        w = EmployeeRules::cardWork(plain, factsOf(plain, { Cmd("f", "failed", "a") }));
        QCOMPARE(w.lastFinished->colour, DS::failureRed());
        QVERIFY(!w.sharedNote);
        const QList<CommandBrief> machineFailed { Cmd("f", "failed").by("d1") };
        w = EmployeeRules::cardWork(plain, factsOf(plain, machineFailed, { Mate("b", "Bo", "d1") }));
        QCOMPARE(w.lastFinished->colour, DS::muted(0.55));
        QCOMPARE(w.lastFinished->text, QStringLiteral("这台机器最近这一趟没成：task f"));
        QVERIFY(w.sharedNote);

        // The runtime chip: known as is, last known behind "上一趟 ", the others none.
        QCOMPARE(runtimeChip(RuntimeAttribution::known("Codex")), std::optional<QString>("Codex"));
        QCOMPARE(runtimeChip(RuntimeAttribution::lastKnown("Codex")), std::optional<QString>("上一趟 Codex"));
        QCOMPARE(runtimeChip(RuntimeAttribution::deviceOnly("Codex")), std::nullopt);
        QCOMPARE(runtimeChip(RuntimeAttribution::ambiguous(2)), std::nullopt);
    }

    void detailSections()
    {
        const TeammateBrief t = Mate("a", "Ada", "d1");
        QCOMPARE(currentWork(Mate("a", "Ada"), factsOf(Mate("a", "Ada"), { Cmd("r", "claimed", "a") })),
            CurrentWork::noMachine);
        QCOMPARE(currentWork(t, factsOf(t, { Cmd("r", "claimed", "a") })), CurrentWork::running);
        // The machine's line hides blocked work.
        const TeammateBrief busy = Mate("a", "Ada", "d1").task("别的");
        QCOMPARE(currentWork(busy, factsOf(busy, { Cmd("b", "blocked", "a") })), CurrentWork::machineLine);
        QCOMPARE(currentWork(t, factsOf(t, { Cmd("b", "blocked", "a") })), CurrentWork::blocked);
        QCOMPARE(currentWork(t, factsOf(t, { Cmd("d", "done", "a") })), CurrentWork::idle);

        // Needs attention: nothing for a plain idle employee; the heartbeat for an
        // offline one; the failed dependencies; and a runtime the machine lacks,
        // which only the derived status tells.
        QVERIFY(!needsAttention(factsOf(t, {})).present());
        const TeammateBrief gone = Mate("a", "Ada", "d1").alive(false);
        Attention a = needsAttention(factsOf(gone, {}));
        QVERIFY(a.present() && a.offline && a.dependencyFailed.isEmpty() && !a.runtimeUnavailable);
        a = needsAttention(factsOf(t, { Cmd("x", "dependency_failed", "a"), Cmd("y", "dependency_failed", "a") }));
        QCOMPARE(a.dependencyFailed.size(), 2);
        a = needsAttention(factsOf(t, { Cmd("q", "runtime_unavailable", "a") }));
        QVERIFY(a.present() && a.runtimeUnavailable && !a.offline);
        // Running work outranks it: then the status is running and no banner shows.
        QVERIFY(!needsAttention(factsOf(t, { Cmd("q", "runtime_unavailable", "a"), Cmd("r", "claimed", "a") }))
                     .runtimeUnavailable);

        // Diagnostics: seven rows, or ten with a last finished command.
        const QList<QPair<QString, QString>> seven = diagnostics(Mate("a", "Ada"), factsOf(Mate("a", "Ada"), {}));
        QCOMPARE(seven.size(), 7);
        QCOMPARE(seven.at(1).second, QStringLiteral("（未绑定）"));
        QCOMPARE(seven.at(2).second, QStringLiteral("（未上报）"));
        const QList<QPair<QString, QString>> ten = diagnostics(t, factsOf(t, { Cmd("d", "done", "a") }));
        QCOMPARE(ten.size(), 10);
        QCOMPARE(ten.at(7), qMakePair(QStringLiteral("最近一条 id"), QStringLiteral("d")));
    }

    void recentWork()
    {
        const TeammateBrief t = Mate("a", "Ada", "d1");
        const QList<CommandBrief> five { Cmd("1", "done", "a"), Cmd("2", "done", "a"), Cmd("3", "done", "a"),
            Cmd("4", "done", "a"), Cmd("5", "done", "a") };
        QCOMPARE(shownFinished(five, factsOf(t, five)), five.mid(0, 3));
        // Nothing of its own: the machine's last finished command, then nothing.
        const QList<CommandBrief> machine { Cmd("m", "done").by("d1") };
        const QList<TeammateBrief> colleague { Mate("b", "Bo", "d1") };
        const WorkforceFacts shared = factsOf(t, machine, colleague);
        QVERIFY(shared.ambiguousOwnership);
        QCOMPARE(shownFinished({}, shared), machine);
        QVERIFY(shownFinished({}, factsOf(t, {})).isEmpty());

        // The machine note goes on a card only when that card's command belongs
        // to no employee, not on the employee's own commands beside it.
        QVERIFY(machineNote(machine.first(), shared));
        QVERIFY(!machineNote(Cmd("own", "done", "a"), shared));
        QVERIFY(!machineNote(machine.first(), factsOf(t, machine)));
    }

    void texts()
    {
        QCOMPARE(firstLines("a\nb\nc\nd", 3), QStringLiteral("a\nb\nc…"));
        QCOMPARE(firstLines("a\nb\nc", 3), QStringLiteral("a\nb\nc"));
        QCOMPARE(firstLines("a\nb\nc\n", 3), QStringLiteral("a\nb\nc…"));
        QCOMPARE(firstLines("a\n\nc\nd", 3), QStringLiteral("a\n\nc…"));
        QCOMPARE(firstLines("a\r\nb\r\nc\r\nd", 3), QStringLiteral("a\r\nb\r\nc\r\nd"));
        QCOMPARE(hhmm(std::nullopt), QStringLiteral("—"));
        const QDateTime at(QDate(2026, 5, 1), QTime(9, 5), QTimeZone::utc());
        QCOMPARE(hhmm(at), at.toLocalTime().toString("HH:mm"));
    }

    void skillWords()
    {
        QCOMPARE(SkillCopy::readiness("READY").text, QStringLiteral("可以接活"));
        QCOMPARE(SkillCopy::readiness("ready").text, QStringLiteral("还不能接活"));
        QCOMPARE(SkillCopy::readiness("").tint, DS::amber());
        QCOMPARE(SkillCopy::readiness("BLOCKED_RUNTIME").text, QStringLiteral("没有可用的 CLI"));
        QCOMPARE(SkillCopy::evidenceLabel("flaky"), QStringLiteral("flaky"));
        QCOMPARE(SkillCopy::evidenceTint("flaky"), DS::muted(0.45));
        QCOMPARE(SkillCopy::evidenceTint("no"), DS::failureRed());
        QCOMPARE(SkillCopy::ownerLabel("vendor"), QStringLiteral("vendor"));
        QCOMPARE(SkillCopy::ownerLabel("us"), QStringLiteral("我们还没做"));
        const QString long130 = QString(130, QLatin1Char('x'));
        QCOMPARE(SkillCopy::errorText(long130), QStringLiteral("读不到技能信息：") + long130);
        QCOMPARE(SkillCopy::errorIdentifier(long130), QStringLiteral("skill.error:") + long130.left(120));
    }

    void collabLayout()
    {
        CollabGraph g;
        QCOMPARE(CollabLayout::body(g), CollabLayout::Body::empty);
        for (int i = 0; i < 6; ++i)
            g.nodes.append({ QString::number(i), "n", TolvarineStatus::idle, true, {} });
        QCOMPARE(CollabLayout::body(g), CollabLayout::Body::diagram);
        g.nodes.append({ "6", "n", TolvarineStatus::idle, true, {} });
        QCOMPARE(CollabLayout::body(g), CollabLayout::Body::list);

        // Outsiders: the nodes no group names, in graph order.
        g.edges = { { "1", "0", false }, { "3", "0", false } };
        QCOMPARE(CollabLayout::outsiders(g, g.fanIn()).size(), 4);
        QCOMPARE(CollabLayout::outsiders(g, g.fanIn()).first().id, QStringLiteral("2"));

        const CollabNode failed { "f", "F", TolvarineStatus::failed, true, {} };
        const CollabNode blocked { "b", "B", TolvarineStatus::dependencyFailed, true, {} };
        const CollabNode fine { "o", "O", TolvarineStatus::runtimeUnavailable, true, {} };
        QVERIFY(CollabLayout::dashed({ fine, failed }));
        QVERIFY(CollabLayout::dashed({ blocked }));
        QVERIFY(!CollabLayout::dashed({ fine }));
        QCOMPARE(CollabLayout::nodeIdentifier({ "e1", "E", TolvarineStatus::waitingDependency, false, {} }),
            QStringLiteral("collab.node.e1.Waiting Dependency"));
        QCOMPARE(CollabLayout::glyphSymbol(TolvarineStatus::queued), std::optional<QString>("hourglass"));
        QCOMPARE(CollabLayout::glyphSymbol(TolvarineStatus::running), std::nullopt);
    }

    void edges()
    {
        const Team team { Mate("a", "Ada", "d1"), Mate("b", "Bo", "d2"), Mate("c", "Cy", "d3"),
            Mate("idle", "Ida", "d4") };
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
        QCOMPARE(g.nodes.size(), 3); // the idle employee has no edge and no node
        QCOMPARE(g.nodes.first().id, QStringLiteral("a"));

        const auto fan = g.fanIn();
        QCOMPARE(fan.size(), 2);
        QCOMPARE(fan[0].target.id, QStringLiteral("b"));
        QCOMPARE(fan[0].sources.size(), 2); // the same upstream once per edge
        QCOMPARE(fan[0].sources[0].id, QStringLiteral("a"));
        QCOMPARE(fan[0].sources[1].id, QStringLiteral("a"));
        QCOMPARE(fan[1].target.id, QStringLiteral("c"));
        QCOMPARE(fan[1].sources.size(), 2);
    }

    void absentEmployees()
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

    void subtitles_data()
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
        QTest::newRow("dependency failed")
            << tess << Commands { Cmd("u", "failed", "a"), Cmd("f", "dependency_failed", "t").deps({ "u" }) }
            << "Ada 那一步失败了，它没法开始";
        QTest::newRow("unassigned") << TeammateBrief(Mate("t", "Tess").role("AI Researcher")) << Commands {}
                                    << "还没分到机器";
        QTest::newRow("idle: role title") << tess << Commands {} << "AI Researcher";
    }

    void subtitles()
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

    void fanInOrder()
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

    void copy_data()
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

    void copy()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, waiting);
        QFETCH(QString, failed);
        QCOMPARE(CollabCopy::waitingFor(names), waiting);
        QCOMPARE(CollabCopy::blockedByFailure(names), failed);
    }
};

QTEST_MAIN(TestEmployeeRules)
#include "tst_EmployeeRules.moc"
