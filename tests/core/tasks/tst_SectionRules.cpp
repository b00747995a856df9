#include "core/design/MachineName.h"
#include "core/runtimes/RuntimeSectionValues.h"
#include "core/tasks/PermActions.h"
#include "core/tasks/PermPresentation.h"
#include "core/tasks/RuntimeStatePresentation.h"
#include "core/tasks/TaskCards.h"

#include <QtTest>

using namespace RuntimeStatePresentation;
using K = RuntimeState::Kind;
using S = PermPresentation::PermButton::Style;
using A = PermPresentation::PermButton::Action;

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
// The card's "none".
const QString kNone = QStringLiteral("∅");

CommandBrief cmd(const QString& status, std::optional<qint64> issuedAgo = std::nullopt,
    std::optional<qint64> completedAgo = std::nullopt)
{
    CommandBrief c;
    c.id = QStringLiteral("c1");
    c.text = QStringLiteral("修登录页");
    c.status = status;
    if (issuedAgo)
        c.issuedAt = kNow.addSecs(-*issuedAgo);
    if (completedAgo)
        c.completedAt = kNow.addSecs(-*completedAgo);
    return c;
}

RuntimeState state(K kind, CommandBrief c = {})
{
    RuntimeState s;
    s.kind = kind;
    s.command = std::move(c);
    return s;
}

QString orNone(const std::optional<QString>& s)
{
    return s.value_or(kNone);
}

CLIConfig config(std::optional<QString> device)
{
    CLIConfig c;
    c.api = QStringLiteral("http://127.0.0.1:1");
    c.workspace = QStringLiteral("ws");
    c.token = QStringLiteral("t");
    c.device = device;
    return c;
}

RuntimeRow runtime(const QString& display, bool installed, qint64 unenforceable, const QString& kind = {})
{
    RuntimeRow r;
    r.kind = kind.isEmpty() ? display.toLower() : kind;
    r.display = display;
    r.installed = installed;
    r.capUnenforceable = unenforceable;
    return r;
}

PermRow tier(const QString& key, PermState state)
{
    return { key, key, QString(), state };
}

} // namespace

Q_DECLARE_METATYPE(RuntimeState)
Q_DECLARE_METATYPE(RunnerInfo)
Q_DECLARE_METATYPE(std::optional<CLIConfig>)
Q_DECLARE_METATYPE(QList<CommandBrief>)
Q_DECLARE_METATYPE(QList<RuntimeRow>)
Q_DECLARE_METATYPE(PermRow)
Q_DECLARE_METATYPE(PermPresentation::PermButtons)
Q_DECLARE_METATYPE(PermActionState)

class TestSectionRules : public QObject {
    Q_OBJECT
private slots:
    void runtimeCard_data();
    void runtimeCard();
    void runners_data();
    void runners();
    void tasksAndProgress();
    void oneLine_data();
    void oneLine();
    void unenforceableNote_data();
    void unenforceableNote();
    void buttons_data();
    void buttons();
    void feedback_data();
    void feedback();
    void grantFailure();
};

void TestSectionRules::runtimeCard_data()
{
    QTest::addColumn<RuntimeState>("s");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("headline");
    QTest::addColumn<QString>("evidence");
    QTest::addColumn<bool>("command");

    RuntimeState s = state(K::Unknown);
    s.reason = QStringLiteral("**超时**");
    // A reason is inserted as it is; its marks are the headline's marks.
    QTest::newRow("unknown") << s << "读不到执行状态" << kNone << "取不到命令列表（**超时**）。这**不等于**它没在跑。"
                             << kNone << false;

    s = state(K::Running, cmd("claimed", 30));
    s.byThisMachine = true;
    QTest::newRow("running here") << s << "正在执行 · 这台机器"
                                  << "发起于 30 秒前"
                                  << "这台机器认领了它。下面是进度流的最后几行。" << kNone << true;
    s = state(K::Running, cmd("claimed", -5));
    QTest::newRow("running elsewhere, issued in the future")
        << s << "正在执行 · 另一台设备" << kNone << "认领它的是**另一台设备**，不是这台机器。这个窗口只能看，停不了它。"
        << kNone << true;

    s = state(K::AwaitingGrant);
    s.grants = { QStringLiteral("danger"), QStringLiteral("root") };
    QTest::newRow("awaiting grant") << s << "等待你的授权（2 档）" << kNone
                                    << "这几档还等着你：**删除 / 迁移数据、root**。read / write / push "
                                       "本来是自动完成的，出现在这里说明自动那条路失败了；danger "
                                       "则从来不自动——它不可逆，只认你在这台机器上点的那一下。"
                                    << kNone << false;

    // The assignee block wins even with a fresh runner.
    s = state(K::Queued, cmd("pending", 3600));
    s.hasRunner = true;
    s.blockedByAssignee = QStringLiteral("顾言");
    QTest::newRow("queued, assignee without machine")
        << s << "排队中 · 还没有执行体认领"
        << "发起于 1 小时前"
        << "这条活指派给了 **顾言**，而他名下没有能干活的机器 —— 所以**没有任何设备领得走它**，再等也不会。"
           "在手机上给他绑一台机器，或者把这条活重新指派给别人。"
        << kNone << true;
    s.blockedByAssignee.reset();
    QTest::newRow("queued, runner fresh")
        << s << "排队中 · 还没有执行体认领"
        << "发起于 1 小时前"
        << "已经排上了，还没有执行体认领。心跳是新鲜的，通常一两秒就会被接走。" << kNone << true;
    s.hasRunner = false;
    QTest::newRow("queued, no runner")
        << s << "排队中 · 还没有执行体认领"
        << "发起于 1 小时前"
        << "排着队，但**没有新鲜心跳**——多半是本机没有执行体在跑。上面「执行体」那块的启动按钮就是干这个的。" << kNone
        << true;

    CommandBrief c = cmd("unsupported", 200, 90);
    c.error = QStringLiteral("不会画图");
    QTest::newRow("unsupported, with error") << state(K::LastFailed, c) << "上一趟：执行体说它处理不了"
                                             << "结束于 1 分钟前"
                                             << "执行体判断这句话它没法处理。换个说法重发通常有效。"
                                             << "不会画图" << true;
    c.error.clear();
    QTest::newRow("unsupported, no error") << state(K::LastFailed, c) << "上一趟：执行体说它处理不了"
                                           << "结束于 1 分钟前"
                                           << "执行体判断这句话它没法处理。换个说法重发通常有效。" << kNone << true;
    c = cmd("Unsupported", 200);
    c.error = QStringLiteral("ssh 超时");
    QTest::newRow("failed, error is the headline") << state(K::LastFailed, c) << "上一趟失败"
                                                   << "结束于 3 分钟前"
                                                   << "ssh 超时" << kNone << true;

    c = cmd("done");
    c.filesTouched = false;
    c.summary = QStringLiteral("好的，已读");
    QTest::newRow("done, nothing touched") << state(K::LastDone, c) << "上一趟已完成" << kNone
                                           << "它正常结束了，但**一个文件都没动**。这多半是一句回复，不是一件做完的事。"
                                           << "好的，已读" << true;
    c.filesTouched.reset();
    QTest::newRow("done, summary") << state(K::LastDone, c) << "上一趟已完成" << kNone << "好的，已读" << kNone << true;
    c.summary.clear();
    QTest::newRow("done, no summary") << state(K::LastDone, c) << "上一趟已完成" << kNone
                                      << "执行体回报了完成，没有附带结论。" << kNone << true;

    s = state(K::Idle);
    s.seconds = 4;
    QTest::newRow("idle") << s << "空闲 · 在线，手上没活"
                          << "心跳 4 秒前"
                          << "心跳 4 秒前还在，队列里没有等着的命令。" << kNone << false;

    s = state(K::NoRunner);
    s.presence = AgentPresence::stale(40);
    QTest::newRow("stale")
        << s << "最后一次心跳已过期"
        << "40 秒前"
        << "最后一次心跳是 40 秒前。**过期不等于它已经关了**——一条跑很久的命令在执行期间就是不轮询的。" << kNone
        << false;
    s.presence = AgentPresence::unknown(QStringLiteral("500"));
    QTest::newRow("heartbeat unreadable")
        << s << "读不到心跳" << kNone << "读不到心跳（500）。**读不到不等于没有。**" << kNone << false;
    s.presence = AgentPresence::never();
    QTest::newRow("never") << s << "还没有执行体来找过活" << kNone << "命令接口读通了，就是没有任何执行体来找过活。"
                           << kNone << false;
}

void TestSectionRules::runtimeCard()
{
    QFETCH(RuntimeState, s);
    QFETCH(QString, title);
    QFETCH(QString, time);
    QFETCH(QString, headline);
    QFETCH(QString, evidence);
    QFETCH(bool, command);

    QCOMPARE(stateTitle(s), title);
    QCOMPARE(orNone(stateTime(s, kNow)), time);
    QCOMPARE(stateHeadline(s), headline);
    QCOMPARE(orNone(stateEvidence(s)), evidence);
    QCOMPARE(stateCommand(s).has_value(), command);
}

void TestSectionRules::runners_data()
{
    QTest::addColumn<RunnerInfo>("runner");
    QTest::addColumn<std::optional<CLIConfig>>("cfg");
    QTest::addColumn<QList<CommandBrief>>("commands");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("here");
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("heartbeat");

    auto claimed = [](const QString& by) {
        CommandBrief c;
        c.status = QStringLiteral("claimed");
        c.claimedBy = by;
        return c;
    };
    const QList<CommandBrief> two { claimed("dev-a"), claimed("cli-b") };
    const QString host = QStringLiteral("cli-") + CLIConfig::hostname();

    QTest::newRow("25 s: fresh") << RunnerInfo { "dev-a", 25 } << std::optional(config("dev-a")) << two << "这台电脑"
                                 << true << false << "25 秒前";
    QTest::newRow("26 s: stale") << RunnerInfo { "cli-b", 26 } << std::optional(config("dev-a")) << two << "b" << false
                                 << true << "26 秒前 · 心跳已过期";
    QTest::newRow("no device: the host name") << RunnerInfo { host, 3 } << std::optional(config(std::nullopt))
                                              << QList<CommandBrief> {} << "这台电脑" << true << false << "3 秒前";
    QTest::newRow("no configuration") << RunnerInfo { host, 3 } << std::optional<CLIConfig>() << two
                                      << MachineName::friendly(host) << false << false << "3 秒前";
}

void TestSectionRules::runners()
{
    QFETCH(RunnerInfo, runner);
    QFETCH(std::optional<CLIConfig>, cfg);
    QFETCH(QList<CommandBrief>, commands);
    QFETCH(QString, name);
    QFETCH(bool, here);
    QFETCH(bool, running);
    QFETCH(QString, heartbeat);

    const TaskCards::RunnerLook look = TaskCards::runnerLook(runner, cfg, commands);
    QCOMPARE(look.name, name);
    QCOMPARE(look.thisDevice, here);
    QCOMPARE(look.running, running);
    QCOMPARE(look.heartbeat, heartbeat);
    QCOMPARE(look.stale, runner.secondsAgo > 25);
}

void TestSectionRules::tasksAndProgress()
{
    // The newest entries are the ones shown.
    QList<CommandBrief> commands(13);
    QList<ProgressLine> progress;
    for (int i = 1; i <= 13; ++i) {
        commands[i - 1].id = QString::number(i);
        progress.append({ i, QStringLiteral("read"), {}, {}, {} });
    }
    const QList<CommandBrief> shown = TaskCards::shownTasks(commands);
    QCOMPARE(shown.size(), 12);
    QCOMPARE(shown.first().id, QStringLiteral("2"));
    QCOMPARE(TaskCards::shownTasks(commands.mid(0, 3)).size(), 3);
    const QList<ProgressLine> tail = TaskCards::tailLines(progress.mid(0, 9));
    QCOMPARE(tail.size(), 5);
    QCOMPARE(tail.first().seq, 5);
    QCOMPARE(TaskCards::tailLines(progress.mid(0, 3)).size(), 3);
}

void TestSectionRules::oneLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    const QString eighty = QString(80, QLatin1Char('x'));
    QTest::newRow("first line empty") << "\nsecond\nthird"
                                      << "second";
    QTest::newRow("80 characters") << eighty << QString(72, QLatin1Char('x')) + "…";
    QTest::newRow("only newlines") << "\n\n"
                                   << "\n\n";
    // An accented letter written as two code points is one character to the reader.
    const QString accented = QStringLiteral("e\u0301");
    QTest::newRow("73 accented") << accented.repeated(73) << accented.repeated(72) + "…";
}

void TestSectionRules::oneLine()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(TaskCards::oneLine(text), shown);
}

void TestSectionRules::unenforceableNote_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QList<RuntimeRow>>("rows");
    QTest::addColumn<QString>("note");

    const QString tail
        = QStringLiteral(" 暂不支持由 Tolvarine 强制执行这一档 —— 开关表达的是你的意图，在这几家上要靠它们自己遵守。");
    const QList<RuntimeRow> three { runtime("A", true, 1), runtime("Off", false, 2), runtime("B", true, 3),
        runtime("Fine", true, 0), runtime("C", true, 1) };
    QList<RuntimeRow> five = three;
    five << runtime("D", true, 1) << runtime("E", true, 1);

    QTest::newRow("three named") << "exec" << three << "⚠️ A / B / C" + tail;
    QTest::newRow("five: three and the count") << "read" << five << "⚠️ A / B / C 等 5 家" + tail;
    QTest::newRow("web never") << "web" << five << kNone;
    QTest::newRow("none installed") << "write" << QList<RuntimeRow> { runtime("Off", false, 2) } << kNone;
    // User-added agent connections are not local runtimes.
    QTest::newRow("connections skipped") << "write"
                                         << QList<RuntimeRow> { runtime("My ACP", true, 1, "acp"),
                                                runtime("Shell", true, 1, "generic"), runtime("A", true, 1) }
                                         << "⚠️ A" + tail;
}

void TestSectionRules::unenforceableNote()
{
    QFETCH(QString, key);
    QFETCH(QList<RuntimeRow>, rows);
    QFETCH(QString, note);
    QCOMPARE(orNone(PermPresentation::unenforceableNote(key, RuntimeSectionValues::plainRuntimeRows(rows))), note);
}

void TestSectionRules::buttons_data()
{
    QTest::addColumn<PermRow>("row");
    QTest::addColumn<bool>("autoFailed");
    QTest::addColumn<PermPresentation::PermButtons>("buttons");

    using B = PermPresentation::PermButtons;
    const B revoke { false, { { S::Secondary, "收回", A::Revoke } } };
    QTest::newRow("granted") << tier("read", PermState::Granted) << false << revoke;
    QTest::newRow("pending") << tier("web", PermState::Pending) << false
                             << B { true, { { S::Secondary, "拒绝", A::Reject } } };
    // The automatic confirmation is not tried again while the tier stays pending.
    QTest::newRow("pending, automatic failed")
        << tier("write", PermState::Pending) << true
        << B { false, { { S::Primary, "批准", A::Approve }, { S::Secondary, "拒绝", A::Reject } } };
    QTest::newRow("pending danger") << tier("danger", PermState::Pending) << false
                                    << B { false,
                                           { { S::Primary, "批准", A::ApproveDanger },
                                               { S::Danger, "拒绝", A::Reject } } };
    QTest::newRow("denied") << tier("push", PermState::Denied) << false
                            << B { false, { { S::Secondary, "授权", A::Approve } } };
    QTest::newRow("denied danger") << tier("danger", PermState::Denied) << false
                                   << B { false, { { S::Danger, "在这台机器上授权（不可逆）", A::GrantDanger } } };
}

void TestSectionRules::buttons()
{
    QFETCH(PermRow, row);
    QFETCH(bool, autoFailed);
    QFETCH(PermPresentation::PermButtons, buttons);
    QCOMPARE(PermPresentation::permButtons(row, autoFailed), buttons);
}

void TestSectionRules::feedback_data()
{
    QTest::addColumn<PermActionState>("action");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<QString>("failed"); // "" = none recorded
    QTest::addColumn<PermActionState>("shown");

    QTest::newRow("confirmed automatically")
        << PermActionState::idle() << true << "" << PermActionState::ok("已自动批准", kNow);
    // Both are recorded only when the failure came after the success.
    QTest::newRow("failed after confirmed")
        << PermActionState::idle() << true << "403" << PermActionState::failed("自动批准没成：403");
    // The user's own action, under way or done, wins.
    QTest::newRow("working hides it") << PermActionState::working("收回中…") << true << "403"
                                      << PermActionState::working("收回中…");
}

void TestSectionRules::feedback()
{
    QFETCH(PermActionState, action);
    QFETCH(bool, confirmed);
    QFETCH(QString, failed);
    QFETCH(PermActionState, shown);
    QCOMPARE(PermPresentation::rowFeedback(action, confirmed ? std::optional(kNow) : std::nullopt,
                 failed.isEmpty() ? std::nullopt : std::optional(failed)),
        shown);
}

void TestSectionRules::grantFailure()
{
    // The tool's last words, without the blank lines after them.
    const QString words = QStringLiteral("a").repeated(60) + QStringLiteral("b").repeated(240);
    CLI::Result run;
    run.code = 3;
    run.out = QStringLiteral("\n") + words + QStringLiteral("\n\n  \n");
    const Result<> outcome = PermActions::grantOutcome(run);
    QVERIFY(!outcome.ok());
    QCOMPARE(outcome.failure().code(), 3);
    QCOMPARE(outcome.failure().description(), QStringLiteral("b").repeated(240));

    run.out = QStringLiteral("  \n");
    QCOMPARE(PermActions::grantOutcome(run).failure().description(), QStringLiteral("brenlow grant 退出码 3"));

    // A run that never finished reports its own error.
    run.failure = CLI::Failure::TimedOut;
    run.error = QStringLiteral("停掉了");
    QCOMPARE(PermActions::grantOutcome(run).failure().description(), QStringLiteral("停掉了"));
    run = {};
    run.code = 0;
    QVERIFY(PermActions::grantOutcome(run).ok());
}

QTEST_MAIN(TestSectionRules)
#include "tst_SectionRules.moc"
