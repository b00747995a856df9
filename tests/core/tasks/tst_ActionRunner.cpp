// The keyed action runner: what a key shows while its action runs and after,
// the one reload that follows whatever the outcome, and what still follows
// when the runner is destroyed while the operation runs; the feed's keys.
#include "core/tasks/ActionRunner.h"
#include "core/tasks/FeedActions.h"

#include <QtTest>

#include <QCoroTimer>

#include <chrono>

using namespace std::chrono_literals;

namespace {

QCoro::Task<Result<>> after(bool* ended, Result<> outcome)
{
    co_await QCoro::sleepFor(30ms);
    *ended = true;
    co_return outcome;
}

QCoro::Task<> counted(int* reloads)
{
    ++*reloads;
    co_return;
}

} // namespace

class TestActionRunner : public QObject {
    Q_OBJECT
private slots:
    void outcome_data();
    void outcome();
    void destroyedWhileRunning_data();
    void destroyedWhileRunning();
    void feedKeysKeepTheirItem_data();
    void feedKeysKeepTheirItem();
};

void TestActionRunner::outcome_data()
{
    QTest::addColumn<Result<>>("result");
    QTest::addColumn<PermActionState::Kind>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("ok") << Result<>() << PermActionState::Kind::Ok << QStringLiteral("已批准");
    QTest::newRow("gateway error with advice")
        << Result<>(Failure::gateway(GatewayError::fromReply(403, R"({"error":"不行","code":"unknown_permission"})")))
        << PermActionState::Kind::Failed << QStringLiteral("不行 网关不认识这一档。多半是 App 和网关版本对不上。");
}

void TestActionRunner::outcome()
{
    QFETCH(Result<>, result);
    QFETCH(PermActionState::Kind, kind);
    QFETCH(QString, text);
    int reloads = 0;
    QList<PermActionState> seen;
    QStringList finished;
    QObject owner;
    ActionRunner<QString>* runner = nullptr;
    runner = new ActionRunner<QString>([&reloads] { return counted(&reloads); }, ActionRunnerBase::WhenGone::Stop,
        {
            [&](const QString& key) { seen.append(runner->state(key)); },
            [&](const QString& key) {
                finished.append(key);
                // The reload has run by then.
                QCOMPARE(reloads, 1);
            },
        },
        &owner);
    bool ended = false;
    runner->run(QStringLiteral("f1"), QStringLiteral("批准中…"), QStringLiteral("已批准"),
        [&ended, result] { return after(&ended, result); });
    QCOMPARE(runner->state(QStringLiteral("f1")), PermActionState::working(QStringLiteral("批准中…")));
    QVERIFY(runner->state(QStringLiteral("f2")) == PermActionState::idle());
    QTRY_COMPARE(finished, QStringList { QStringLiteral("f1") });
    QCOMPARE(reloads, 1);
    QCOMPARE(seen.size(), 2);
    const PermActionState last = runner->state(QStringLiteral("f1"));
    QCOMPARE(seen.last(), last);
    QCOMPARE(last.kind(), kind);
    QCOMPARE(last.text(), text);
    QCOMPARE(last.at().isValid(), kind == PermActionState::Kind::Ok);

    runner->retain([](const QString& key) { return key != QLatin1String("f1"); });
    QVERIFY(runner->state(QStringLiteral("f1")) == PermActionState::idle());
}

void TestActionRunner::destroyedWhileRunning_data()
{
    QTest::addColumn<ActionRunnerBase::WhenGone>("whenGone");
    QTest::addColumn<int>("reloads");
    QTest::newRow("stop") << ActionRunnerBase::WhenGone::Stop << 0;
    QTest::newRow("reload all the same") << ActionRunnerBase::WhenGone::Reload << 1;
}

void TestActionRunner::destroyedWhileRunning()
{
    QFETCH(ActionRunnerBase::WhenGone, whenGone);
    QFETCH(int, reloads);
    int reloaded = 0;
    int hooks = 0;
    auto* runner = new ActionRunner<QString>([&reloaded] { return counted(&reloaded); }, whenGone,
        { [&](const QString&) { ++hooks; }, [&](const QString&) { ++hooks; } }, nullptr);
    bool ended = false;
    runner->run(QStringLiteral("f1"), QStringLiteral("删除中…"), QStringLiteral("已删除"),
        [&ended] { return after(&ended, Result<>()); });
    QCOMPARE(hooks, 1);
    delete runner;
    QTRY_VERIFY(ended);
    QCoreApplication::processEvents();
    QCOMPARE(reloaded, reloads);
    // Nothing more is reported for a runner that is gone.
    QCOMPARE(hooks, 1);
}

QTEST_GUILESS_MAIN(TestActionRunner)
// A key gives back the very item it was made for, whatever the gateway's id
// or the paired workspace's name holds, and two workspaces never share a key.
void TestActionRunner::feedKeysKeepTheirItem_data()
{
    QTest::addColumn<QString>("workspace");
    QTest::addColumn<QString>("item");
    QTest::newRow("plain") << "ws-1"
                           << "f-306";
    QTest::newRow("newline in the id") << "ws-1"
                                       << "f-306\nf-307";
    QTest::newRow("newline in the workspace") << "ws\n1"
                                              << "f-306";
    QTest::newRow("escapes in both") << "ws\\n\n"
                                     << "\\n\n";
    QTest::newRow("empty id") << "ws-1"
                              << "";
}

void TestActionRunner::feedKeysKeepTheirItem()
{
    QFETCH(QString, workspace);
    QFETCH(QString, item);
    const CLIConfig config { .api = "http://127.0.0.1:8080", .workspace = workspace, .token = "t" };
    const QString key = FeedActions::keyOf(config, item);
    QCOMPARE(FeedActions::itemOf(key), item);
    QCOMPARE(FeedActions::itemOf(FeedActions::keyOf(std::nullopt, item)), item);
    // Where the workspace's name ends and the id begins is never in doubt.
    CLIConfig longer = config;
    longer.workspace += QLatin1Char('\n');
    QVERIFY(FeedActions::keyOf(longer, item) != FeedActions::keyOf(config, QLatin1Char('\n') + item));
}

#include "tst_ActionRunner.moc"
