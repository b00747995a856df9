// What the team views decide without drawing: the card's work lines, the
// detail pane's sections, the recent-work note, the skill section's words
// and the collaboration diagram: its graph, layout and words.
#include "core/design/DS.h"
#include "core/platform/DisplayText.h"
#include "core/workforce/CollabCopy.h"
#include "core/workforce/CollabGraph.h"
#include "core/workforce/CollabLayout.h"
#include "core/workforce/EmployeeRules.h"
#include "core/workforce/SkillCopy.h"
#include "core/workforce/WorkforceAggregator.h"

#include "WorkforceFixtures.h"

#include <QSet>
#include <QtTest>

using namespace EmployeeRules;
using State = CardWork::State;
using Commands = QList<CommandBrief>;
using Team = QList<TeammateBrief>;

namespace {

WorkforceFacts factsOf(
    const TeammateBrief& t, const Commands& commands, const Team& more = {}, const QSet<QString>& waitingTaskIDs = {})
{
    return WorkforceAggregator::facts(Team { t } + more, commands, {}, {}, waitingTaskIDs).value(t.id);
}

// Two of Ada's commands wait for the user's approval.
const Commands kAsking { Cmd("w1", "waiting_approval", "a").text("清理旧数据"), Cmd("w2", "waiting_approval", "a") };
const QSet<QString> kAskingIDs { "w1", "w2" };

CardWork cardOf(const TeammateBrief& t, const Commands& commands, const Team& more = {})
{
    return EmployeeRules::cardWork(t, factsOf(t, commands, more));
}

CollabGraph graphOf(const Team& team, const Commands& commands)
{
    return CollabGraph::build(team, commands, WorkforceAggregator::facts(team, commands, {}, {}, {}));
}

QStringList ids(const auto& list, const auto& id)
{
    QStringList out;
    for (const auto& item : list)
        out << id(item);
    return out;
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
        const auto add
            = [](const char* name, const char* status, const char* verdict, bool shared, const char* prefix) {
                  QTest::newRow(name) << QString(status) << QString(verdict) << shared << QString(prefix);
              };
        add("partial", "done", "PARTIAL_SUCCESS", false, "最近这一件只完成了一部分：");
        add("partial, machine", "done", "PARTIAL_SUCCESS", true, "这台机器最近跑完了一部分（不完整）：");
        add("done", "done", "SUCCESS", false, "最近完成：");
        add("done, machine", "done", "", true, "这台机器最近跑完：");
        add("failed", "failed", "PARTIAL_SUCCESS", false, "最近这一件没成：");
        add("unsupported, machine", "unsupported", "", true, "这台机器最近这一趟没成：");
        add("case counts", "Done", "", false, "最近这一件没成：");
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
        const Commands four { Cmd("1", "claimed", "a"), Cmd("2", "claimed", "a"), Cmd("3", "claimed", "a"),
            Cmd("4", "claimed", "a") };
        CardWork w = cardOf(Mate("a", "Ada", "d1").task("重写接口"), four);
        QCOMPARE(w.machineLine->text, QStringLiteral("它那台机器正在跑：重写接口"));
        QVERIFY(w.running.isEmpty() && w.runningBeyond == 0 && w.state == State::none);

        // Without it: three labels and the rest counted.
        const TeammateBrief plain = Mate("a", "Ada", "d1");
        w = cardOf(plain, four);
        QCOMPARE(w.running.size(), 3);
        QCOMPARE(w.runningBeyond, 1);
        QCOMPARE(runningBeyondText(1), QStringLiteral("还有 1 条正在跑（详情里全列）"));
        QCOMPARE(cardOf(plain, four.mid(0, 3)).runningBeyond, 0);

        // No machine says so whatever else shows.
        QCOMPARE(cardOf(Mate("a", "Ada"), four).state, State::noMachine);

        // Blocked work of nobody makes everyone wait, with nobody named and no idle line.
        w = cardOf(plain, { Cmd("q", "blocked") });
        QCOMPARE(w.waiting->text, QStringLiteral("在等一件还没开始的事"));
        QCOMPARE(w.state, State::none);
        QCOMPARE(cardOf(plain, {}).state, State::neverWorked);

        // Work waiting for the user's approval is named, and is no idleness.
        const WorkforceFacts asking = factsOf(plain, kAsking, {}, kAskingIDs);
        QCOMPARE(asking.status, TolvarineStatus::waitingApproval);
        w = EmployeeRules::cardWork(plain, asking);
        QCOMPARE(w.awaitingApproval->text, QStringLiteral("等你批准：清理旧数据 等 2 件"));
        QCOMPARE(w.state, State::none);
        QCOMPARE(awaitingApprovalText(asking.awaitingApproval.mid(0, 1)), QStringLiteral("等你批准：清理旧数据"));

        // The last finished line: partial amber, done muted with a check, failed red
        // unless the work was the shared machine's.
        w = cardOf(plain, { Cmd("p", "done", "a").verdict("PARTIAL_SUCCESS") });
        QCOMPARE(w.lastFinished->colour, DS::amber());
        QCOMPARE(w.lastFinished->symbol, QStringLiteral("exclamationmark"));
        w = cardOf(plain, { Cmd("d", "done", "a") });
        QCOMPARE(w.lastFinished->symbol, QStringLiteral("checkmark"));
        QCOMPARE(w.lastFinished->colour, DS::muted(0.55));
        w = cardOf(plain, { Cmd("f", "failed", "a") });
        QVERIFY(w.lastFinished->colour == DS::failureRed() && !w.sharedNote);
        w = cardOf(plain, { Cmd("f", "failed").by("d1") }, { Mate("b", "Bo", "d1") });
        QVERIFY(w.lastFinished->colour == DS::muted(0.55) && w.sharedNote);

        // The runtime chip: known as is, last known behind "上一趟 ", the others none.
        QCOMPARE(runtimeChip(RuntimeAttribution::known("Codex")), std::optional<QString>("Codex"));
        QCOMPARE(runtimeChip(RuntimeAttribution::lastKnown("Codex")), std::optional<QString>("上一趟 Codex"));
        QCOMPARE(runtimeChip(RuntimeAttribution::deviceOnly("Codex")), std::nullopt);
        QCOMPARE(runtimeChip(RuntimeAttribution::ambiguous(2)), std::nullopt);
    }

    void detailSections()
    {
        const TeammateBrief t = Mate("a", "Ada", "d1");
        const TeammateBrief nomad = Mate("a", "Ada");
        QCOMPARE(currentWork(nomad, factsOf(nomad, { Cmd("r", "claimed", "a") })), CurrentWork::noMachine);
        QCOMPARE(currentWork(t, factsOf(t, { Cmd("r", "claimed", "a") })), CurrentWork::running);
        // The machine's line hides blocked work.
        const TeammateBrief busy = Mate("a", "Ada", "d1").task("别的");
        QCOMPARE(currentWork(busy, factsOf(busy, { Cmd("b", "blocked", "a") })), CurrentWork::machineLine);
        QCOMPARE(currentWork(t, factsOf(t, { Cmd("b", "blocked", "a") })), CurrentWork::blocked);
        QCOMPARE(currentWork(t, factsOf(t, { Cmd("d", "done", "a") })), CurrentWork::idle);
        // Work waiting for approval is what the employee has in hand.
        QCOMPARE(currentWork(t, factsOf(t, kAsking, {}, kAskingIDs)), CurrentWork::awaitingApproval);

        // Needs attention: nothing for a plain idle employee; the heartbeat for an
        // offline one; the failed dependencies; and a runtime the machine lacks,
        // which only the derived status tells.
        // (The offline and runtime banners are walked by the team section's test.)
        QVERIFY(!needsAttention(factsOf(t, {})).present());
        Attention a
            = needsAttention(factsOf(t, { Cmd("x", "dependency_failed", "a"), Cmd("y", "dependency_failed", "a") }));
        QCOMPARE(a.dependencyFailed.size(), 2);
        QVERIFY(needsAttention(factsOf(t, { Cmd("q", "runtime_unavailable", "a") })).runtimeUnavailable);
        // Running work outranks it: then the status is running and no banner shows.
        QVERIFY(!needsAttention(factsOf(t, { Cmd("q", "runtime_unavailable", "a"), Cmd("r", "claimed", "a") }))
                     .runtimeUnavailable);

        // Diagnostics: seven rows, or ten with a last finished command.
        const auto seven = diagnostics(nomad, factsOf(nomad, {}));
        QCOMPARE(seven.size(), 7);
        QCOMPARE(seven.at(1).second, QStringLiteral("（未绑定）"));
        QCOMPARE(seven.at(2).second, QStringLiteral("（未上报）"));
        const auto ten = diagnostics(t, factsOf(t, { Cmd("d", "done", "a") }));
        QCOMPARE(ten.size(), 10);
        QCOMPARE(ten.at(7), qMakePair(QStringLiteral("最近一条 id"), QStringLiteral("d")));
        // Ids the gateway sent whole are shown cut, their direction controls written out.
        const QString longId = QStringLiteral("\u202E") + QString(5000, QLatin1Char('i'));
        const TeammateBrief far = Mate(longId, "Far");
        const auto cut = diagnostics(far, factsOf(far, { Cmd(longId, "done", longId) }));
        const QString shown = QStringLiteral("[U+202E]") + QString(DisplayText::kNameLength - 1, QLatin1Char('i'))
            + QStringLiteral("…");
        QCOMPARE(cut.at(0).second, shown);
        QCOMPARE(cut.at(7).second, shown);
    }

    void recentWork()
    {
        const TeammateBrief t = Mate("a", "Ada", "d1");
        const Commands five { Cmd("1", "done", "a"), Cmd("2", "done", "a"), Cmd("3", "done", "a"),
            Cmd("4", "done", "a"), Cmd("5", "done", "a") };
        QCOMPARE(shownFinished(five, factsOf(t, five)), five.mid(0, 3));
        // Nothing of its own: the machine's last finished command, then nothing.
        const Commands machine { Cmd("m", "done").by("d1") };
        const WorkforceFacts shared = factsOf(t, machine, { Mate("b", "Bo", "d1") });
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
        QCOMPARE(SkillCopy::ownerLabel("us"), QStringLiteral("我们还没做"));
        const QString long130(130, QLatin1Char('x'));
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
        QCOMPARE(ids(CollabLayout::outsiders(g, g.fanIn()), [](const CollabNode& n) { return n.id; }),
            QStringList({ "2", "4", "5", "6" }));

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
        // The idle employee has no edge and no node.
        QCOMPARE(ids(g.nodes, [](const CollabNode& n) { return n.id; }), QStringList({ "a", "b", "c" }));
        // The same upstream once per edge.
        const auto pairs = ids(g.fanIn(), [](const auto& pair) {
            return pair.target.id + ":" + ids(pair.sources, [](const CollabNode& n) { return n.id; }).join(",");
        });
        QCOMPARE(pairs, QStringList({ "b:a,a", "c:a,b" }));

        // Edges between employees off the roster draw no node; a target with a
        // node keeps its pair even when no source has one.
        const Commands offRoster { Cmd("x", "done", "p"), Cmd("y", "blocked", "q").deps({ "x" }) };
        const CollabGraph absent = graphOf({ Mate("a", "Ada") }, offRoster);
        QCOMPARE(absent.edges, QList<CollabEdge>({ { "p", "q", false } }));
        QVERIFY(absent.nodes.isEmpty() && absent.fanIn().isEmpty());
        const auto fan = graphOf({ Mate("q", "Quinn") }, offRoster).fanIn();
        QVERIFY(fan.size() == 1 && fan[0].sources.isEmpty());
    }

    void subtitles_data()
    {
        QTest::addColumn<TeammateBrief>("mate");
        QTest::addColumn<Commands>("commands");
        QTest::addColumn<QString>("subtitle");
        const TeammateBrief tess = Mate("t", "Tess", "d1").role("AI Researcher");
        const auto add = [&tess](const char* name, const Commands& commands, const char* subtitle) {
            QTest::newRow(name) << tess << commands << QString(subtitle);
        };
        add("running: its first task", { Cmd("r1", "claimed", "t").text("写周报"), Cmd("r2", "claimed", "t") },
            "写周报");
        add("waiting on names",
            { Cmd("u1", "claimed", "a"), Cmd("u2", "done", "b"), Cmd("w", "blocked", "t").deps({ "u1", "u2" }) },
            "等待 Ada 和 Bo 完成");
        add("dependency failed", { Cmd("u", "failed", "a"), Cmd("f", "dependency_failed", "t").deps({ "u" }) },
            "Ada 那一步失败了，它没法开始");
        add("idle: role title", {}, "AI Researcher");
        QTest::newRow("unassigned") << TeammateBrief(Mate("t", "Tess").role("AI Researcher")) << Commands {}
                                    << "还没分到机器";
    }

    void subtitles()
    {
        QFETCH(TeammateBrief, mate);
        QFETCH(Commands, commands);
        QFETCH(QString, subtitle);
        // Only the node of `t` matters; with edges it is among the involved ones.
        const CollabGraph g = graphOf({ mate, Mate("a", "Ada", "d2"), Mate("b", "Bo", "d3") }, commands);
        const auto it = std::find_if(g.nodes.cbegin(), g.nodes.cend(), [](const CollabNode& n) { return n.id == "t"; });
        QVERIFY(it != g.nodes.cend());
        QCOMPARE(it->subtitle, subtitle);
    }

    void fanInOrder()
    {
        // UTF-16 order would put the emoji (a surrogate pair) before the
        // full-width letter; by code point it comes last.
        const Team team { Mate("s", "Src"), Mate("e", QStringLiteral("\U0001F600")),
            Mate("w", QStringLiteral("\uFF21")), Mate("z", "Zoe"), Mate("z2", "Zoe") };
        Commands commands { Cmd("s1", "done", "s") };
        for (const char* id : { "e", "w", "z", "z2" })
            commands << Cmd(id + QStringLiteral("1"), "blocked", id).deps({ "s1" });
        QCOMPARE(ids(graphOf(team, commands).fanIn(), [](const auto& pair) { return pair.target.id; }),
            QStringList({ "z", "z2", "w", "e" }));

        // No facts for a node: unassigned, no reading, empty subtitle.
        const CollabNode bare = CollabGraph::build(team, commands, {}).nodes.first();
        QVERIFY(bare.status == TolvarineStatus::unassigned && !bare.hasReading && bare.subtitle.isEmpty());
    }

    void copy_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("waiting");
        QTest::addColumn<QString>("failed");
        QTest::newRow("none") << QStringList() << QString("在等一件还没开始的事") << "前面一步失败了，它没法开始";
        QTest::newRow("one") << QStringList({ "甲" }) << QString("等待 甲 完成") << "甲 那一步失败了，它没法开始";
        QTest::newRow("four") << QStringList({ "甲", "乙", "丙", "丁" }) << QString("等待 甲、乙、丙 和 丁 完成")
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
