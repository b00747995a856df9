#include "design/DangerButton.h"
#include "design/EmptyState.h"
#include "design/PrimaryButton.h"
#include "design/ProseLabel.h"
#include "design/SecondaryButton.h"
#include "gateway/Status.h"
#include "platform/Prompts.h"
#include "tasks/ActionFeedbackLine.h"
#include "tasks/ApprovalsSheet.h"
#include "tasks/FailedTasksSheet.h"
#include "tasks/FeedItemRow.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include <QCoroTask>

namespace {

const QString kWs = QStringLiteral("ws-t");
const QString kApi = QStringLiteral("/api/workspaces/ws-t");

QJsonObject obj(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

// Two approvals (one without a command or origin), three failed items (one
// the gateway sent without its task id, one an approval that failed later).
QJsonObject workspaceState()
{
    QJsonObject ws = obj(R"({
      "name": "Sheet Shop",
      "commands": [
        {"id":"c2","text":"迁移脚本","status":"failed","error":"ssh 超时"},
        {"id":"c4","text":"上线新首页","status":"waiting_approval"},
        {"id":"c5","text":"加水印","status":"failed"},
        {"id":"c6","text":"清缓存","status":"waiting_approval"}
      ],
      "employees": [],
      "agents": [],
      "feed": [
        {"id":"f1","task_id":"c4","category":"approval","title":"上线","subtitle":"改动 3 个文件",
         "command":"上线新首页","status":"pending","origin_device":"cli-studio.local"},
        {"id":"f2","task_id":"c6","category":"approval","title":"要不要清缓存","status":"pending"},
        {"id":"f3","task_id":"c2","category":"failed","title":"迁移失败","subtitle":"ssh 超时",
         "command":"迁移脚本","origin_device":"cli-studio.local"},
        {"id":"f4","category":"failed","title":"没编号的失败"},
        {"id":"f5","task_id":"c5","category":"approval","title":"加水印","status":"pending","outcome":"failed"}
      ],
      "permissions": {"effective":{"read":true},"pending":[],"ceiling":["read"]}
    })");
    ws.insert(QStringLiteral("workspace"), kWs);
    ws.insert(QStringLiteral("token"), QStringLiteral("tok-t"));
    return ws;
}

QStringList requestLines(const QJsonArray& log)
{
    QStringList out;
    for (const QJsonValue& v : log)
        out.append(v.toObject().value(QStringLiteral("method")).toString() + QLatin1Char(' ')
            + v.toObject().value(QStringLiteral("path")).toString());
    return out;
}

// Requests that change gateway state.
QStringList writes(const QJsonArray& log)
{
    QStringList out;
    for (const QString& line : requestLines(log)) {
        if (line.startsWith(QLatin1String("POST")))
            out.append(line);
    }
    return out;
}

int reloads(const QJsonArray& log)
{
    return int(requestLines(log).count(QStringLiteral("GET ") + kApi + QStringLiteral("/feed")));
}

template <typename W> W* child(QWidget* root, const QString& name)
{
    return root->findChild<W*>(name);
}

} // namespace

class TestFeedSheets : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void rows_data();
    void rows();
    void emptyLists_data();
    void emptyLists();
    void actions_data();
    void actions();
    void failures_data();
    void failures();
    void deleteConfirmation_data();
    void deleteConfirmation();
    void itemWithoutTaskId_data();
    void itemWithoutTaskId();
    void feedbackSurvivesReload();
    void closedWhileRunning();
    void screenshots();

private:
    std::unique_ptr<FeedItemSheet> sheet(const QString& which, std::optional<CLIConfig> cfg);
    std::unique_ptr<FeedItemSheet> sheet(const QString& which) { return sheet(which, m_cfg); }
    void waitFinished(FeedItemSheet* s, const QString& id, QSignalSpy& spy);

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<Status> m_status;
    CLIConfig m_cfg;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestFeedSheets::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_sim->control("PUT", QStringLiteral("/_sim/state/") + kWs, workspaceState());
    QCOMPARE(m_sim->lastStatus(), 200);
    m_cfg = m_sim->config(kWs);
    m_cfg.device = QStringLiteral("dev-test");
    m_status = std::make_unique<Status>();
    QCoro::waitFor(m_status->reload(m_cfg));
    QCOMPARE(m_status->pendingApprovalItems().size(), 2);
    QCOMPARE(m_status->failedFeedItems().size(), 3);
    m_sim->clearRequests();
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));
}

void TestFeedSheets::cleanup()
{
    Prompts::setShared(nullptr);
    m_prompts = nullptr;
    m_status.reset();
    m_sim.reset();
    m_home.reset();
}

std::unique_ptr<FeedItemSheet> TestFeedSheets::sheet(const QString& which, std::optional<CLIConfig> cfg)
{
    std::unique_ptr<FeedItemSheet> s;
    if (which == QLatin1String("approvals"))
        s = std::make_unique<ApprovalsSheet>(m_status.get(), cfg);
    else
        s = std::make_unique<FailedTasksSheet>(m_status.get(), cfg);
    s->open();
    return s;
}

void TestFeedSheets::waitFinished(FeedItemSheet* s, const QString& id, QSignalSpy& spy)
{
    QTRY_VERIFY_WITH_TIMEOUT(!spy.isEmpty(), 15000);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), id);
    Q_UNUSED(s);
}

void TestFeedSheets::rows_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QStringList>("headlines");
    QTest::addColumn<QStringList>("origins"); // "" = no origin line
    QTest::addColumn<QStringList>("buttons");

    QTest::newRow("approvals") << "approvals" << QStringList { "f1", "f2" }
                               << QStringList { "上线新首页", "要不要清缓存" }
                               << QStringList { "来自设备 cli-studio.local", "" }
                               << QStringList { "approvals.approve.", "approvals.reject." };
    // A failed item never shows where it came from.
    QTest::newRow("failed tasks") << "failedtasks" << QStringList { "f3", "f4", "f5" }
                                  << QStringList { "迁移脚本", "没编号的失败", "加水印" } << QStringList { "", "", "" }
                                  << QStringList { "failedtasks.retry.", "failedtasks.delete." };
}

void TestFeedSheets::rows()
{
    QFETCH(QString, which);
    QFETCH(QStringList, ids);
    QFETCH(QStringList, headlines);
    QFETCH(QStringList, origins);
    QFETCH(QStringList, buttons);

    auto s = sheet(which);
    QCOMPARE(s->objectName(), which + ".sheet");
    QVERIFY(!child<QWidget>(s.get(), which + ".empty")->isVisible());
    const QList<FeedItemRow*> rows = s->findChildren<FeedItemRow*>();
    QCOMPARE(rows.size(), ids.size());
    int lastY = -1;
    for (int i = 0; i < ids.size(); ++i) {
        auto* row = child<FeedItemRow>(s.get(), which + ".row." + ids[i]);
        QVERIFY2(row, qPrintable(ids[i]));
        QVERIFY(row->isVisible());
        QVERIFY(row->y() > lastY); // in the list's order
        lastY = row->y();
        QCOMPARE(child<QLabel>(row, which + ".row." + ids[i] + ".text")->text(), headlines[i]);
        QCOMPARE(row->originLabel()->isVisible(), !origins[i].isEmpty());
        if (!origins[i].isEmpty())
            QCOMPARE(row->originLabel()->text(), origins[i]);
        for (const QString& b : buttons)
            QVERIFY2(child<QAbstractButton>(row, b + ids[i]), qPrintable(b + ids[i]));
        QVERIFY(!row->feedback()->isVisible());
    }
    // Opening a sheet loads nothing.
    QVERIFY(m_sim->requests().isEmpty());
}

void TestFeedSheets::emptyLists_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("message");
    QTest::newRow("approvals") << "approvals" << "都批完了 —— 没有等你点头的了。";
    QTest::newRow("failed tasks") << "failedtasks" << "没有失败的任务在等你处理。";
}

void TestFeedSheets::emptyLists()
{
    QFETCH(QString, which);
    QFETCH(QString, message);
    m_sim->control("PATCH", QStringLiteral("/_sim/state/") + kWs, QJsonObject { { "feed", QJsonArray {} } });
    QCoro::waitFor(m_status->reload(m_cfg));

    auto s = sheet(which);
    auto* empty = child<EmptyState>(s.get(), which + ".empty");
    QVERIFY(empty && empty->isVisible());
    QCOMPARE(empty->messageLabel()->text(), message);
    QVERIFY(s->findChildren<FeedItemRow*>().isEmpty());

    QSignalSpy finished(s.get(), &QDialog::finished);
    auto* close = child<SecondaryButton>(s.get(), which + ".close");
    QVERIFY(close);
    QTest::mouseClick(close, Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!s->isVisible());
}

void TestFeedSheets::actions_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("working");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QJsonObject>("body"); // compared key by key when not empty
    QTest::addColumn<QString>("done");

    // Approve and reject address the feed item; retry and delete the task's command.
    QTest::newRow("approve") << "approvals" << "approvals.approve.f1" << "f1" << "批准中…"
                             << "POST " + kApi + "/feed/f1/act"
                             << QJsonObject { { "action", "continue" }, { "note", "" } } << "已批准";
    QTest::newRow("reject") << "approvals" << "approvals.reject.f2" << "f2" << "拒绝中…"
                            << "POST " + kApi + "/feed/f2/act"
                            << QJsonObject { { "action", "ignore" }, { "note", "" } } << "已拒绝";
    QTest::newRow("retry") << "failedtasks" << "failedtasks.retry.f3" << "f3" << "重试中…"
                           << "POST " + kApi + "/commands/c2/retry" << QJsonObject {} << "已放回队列";
    QTest::newRow("delete") << "failedtasks" << "failedtasks.delete.f5" << "f5" << "删除中…"
                            << "POST " + kApi + "/commands/c5/delete" << QJsonObject {} << "已删除";
}

void TestFeedSheets::actions()
{
    QFETCH(QString, which);
    QFETCH(QString, button);
    QFETCH(QString, item);
    QFETCH(QString, working);
    QFETCH(QString, request);
    QFETCH(QJsonObject, body);
    QFETCH(QString, done);

    m_prompts->alertAnswers = { 0 };
    // Hold the reply, and then the reload, a little so that each state can be seen.
    m_sim->setFault("POST", request.mid(5), 0, {}, 300, 1);
    m_sim->setFault("GET", kApi + "/feed", 0, {}, 600, 1);
    auto s = sheet(which);
    QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
    auto* row = child<FeedItemRow>(s.get(), which + ".row." + item);
    QTest::mouseClick(child<QAbstractButton>(s.get(), button), Qt::LeftButton);

    QTRY_VERIFY(s->actionState(item).isWorking());
    QCOMPARE(row->feedback()->text(), working);
    QVERIFY(row->feedback()->isVisible());
    // Busy: the primary button shows it, the others take no presses.
    for (QAbstractButton* b : row->findChildren<QAbstractButton*>()) {
        if (auto* p = qobject_cast<PrimaryButton*>(b))
            QVERIFY(p->isBusy());
        else
            QVERIFY(!b->isEnabled());
    }

    // Done, while the reload runs.
    QTRY_COMPARE(s->actionState(item).kind(), PermActionState::Kind::Ok);
    QCOMPARE(s->actionState(item).text(), done);
    QCOMPARE(row->feedback()->text(), QStringLiteral("✅ ") + done);
    QVERIFY(spy.isEmpty());

    waitFinished(s.get(), item, spy);
    const QJsonArray log = m_sim->requests();
    QCOMPARE(writes(log), QStringList { request });
    if (!body.isEmpty()) {
        for (const QJsonValue& v : log) {
            const QJsonObject r = v.toObject();
            if (r.value("method").toString() != QLatin1String("POST"))
                continue;
            const QJsonObject sent = QJsonDocument::fromJson(r.value("body").toString().toUtf8()).object();
            for (auto it = body.begin(); it != body.end(); ++it)
                QCOMPARE(sent.value(it.key()), it.value());
        }
    }
    QCOMPARE(reloads(log), 1);
    // The gateway no longer reports the item: its row leaves the sheet, and its feedback with it.
    QTRY_VERIFY(!child<FeedItemRow>(s.get(), which + ".row." + item));
    QCOMPARE(s->actionState(item).kind(), PermActionState::Kind::Idle);
}

void TestFeedSheets::failures_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("paired");
    QTest::addColumn<QString>("feedback");

    QTest::newRow("advised code") << "approvals.approve.f1" << 409
                                  << QByteArray(R"({"error":"本机没声明","code":"grant_exceeds_source"})") << true
                                  << "❌ 本机没声明 这一档不能远程开——它要求本机先声明允许，而只有 `brenlow grant` "
                                     "会写那份声明。";
    QTest::newRow("no message") << "approvals.reject.f2" << 500 << QByteArray() << true << "❌ 网关回了 500";
    QTest::newRow("code without advice") << "approvals.approve.f1" << 409
                                         << QByteArray(R"({"error":"这条已经处理过了","code":"already_decided"})")
                                         << true << "❌ 这条已经处理过了";
    QTest::newRow("not paired") << "approvals.approve.f1" << 0 << QByteArray() << false
                                << "❌ 这台电脑上还没有工作区";
}

void TestFeedSheets::failures()
{
    QFETCH(QString, button);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(bool, paired);
    QFETCH(QString, feedback);

    if (status)
        m_sim->setFault("POST", kApi + "/feed/*", status, reply);
    if (!paired) {
        // The sheet has no configuration; the reload that follows reads the pairing files.
        QVERIFY(QDir().mkpath(QDir::home().filePath(".tolvarine")));
        QFile f(QDir::home().filePath(".tolvarine/config.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(m_cfg.toJson()).toJson());
    }
    auto s = sheet("approvals", paired ? std::optional<CLIConfig>(m_cfg) : std::nullopt);
    const QString item = button.section('.', 2);
    QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
    QTest::mouseClick(child<QAbstractButton>(s.get(), button), Qt::LeftButton);
    waitFinished(s.get(), item, spy);

    QCOMPARE(s->actionState(item).kind(), PermActionState::Kind::Failed);
    auto* row = child<FeedItemRow>(s.get(), "approvals.row." + item);
    QVERIFY(row);
    QCOMPARE(row->feedback()->text(), feedback);
    // The buttons take presses again.
    for (QAbstractButton* b : row->findChildren<QAbstractButton*>())
        QVERIFY(b->isEnabled());
    QCOMPARE(reloads(m_sim->requests()), 1);
    if (!paired)
        QVERIFY(writes(m_sim->requests()).isEmpty());
}

void TestFeedSheets::deleteConfirmation_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("confirmed") << 0 << true;
    QTest::newRow("cancelled") << 1 << false;
    QTest::newRow("dismissed") << -1 << false;
}

void TestFeedSheets::deleteConfirmation()
{
    QFETCH(int, answer);
    QFETCH(bool, deleted);
    m_prompts->alertAnswers = { answer };
    auto s = sheet("failedtasks");
    QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
    QTest::mouseClick(child<QAbstractButton>(s.get(), "failedtasks.delete.f3"), Qt::LeftButton);

    QCOMPARE(m_prompts->alertsShown.size(), 1);
    const Prompts::Alert shown = m_prompts->alertsShown.first();
    QCOMPARE(shown.message, QStringLiteral("确定要删除这条失败的任务？"));
    QCOMPARE(shown.informative, QStringLiteral("迁移脚本\n删掉之后这条记录和它的失败原因都找不回来了。"));
    QCOMPARE(shown.buttons, (QStringList { "删除", "算了" }));

    if (deleted) {
        waitFinished(s.get(), "f3", spy);
        QCOMPARE(writes(m_sim->requests()), QStringList { "POST " + kApi + "/commands/c2/delete" });
        QCOMPARE(reloads(m_sim->requests()), 1);
    } else {
        QTest::qWait(100);
        QVERIFY(spy.isEmpty());
        QVERIFY(m_sim->requests().isEmpty());
        QCOMPARE(s->actionState("f3").kind(), PermActionState::Kind::Idle);
        QVERIFY(!child<FeedItemRow>(s.get(), "failedtasks.row.f3")->feedback()->isVisible());
    }
}

void TestFeedSheets::itemWithoutTaskId_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("verb");
    QTest::newRow("retry") << "failedtasks.retry.f4" << "重试";
    QTest::newRow("delete") << "failedtasks.delete.f4" << "删除";
}

void TestFeedSheets::itemWithoutTaskId()
{
    QFETCH(QString, button);
    QFETCH(QString, verb);
    m_prompts->alertAnswers = { 0 };
    auto s = sheet("failedtasks");
    QTest::mouseClick(child<QAbstractButton>(s.get(), button), Qt::LeftButton);
    QTest::qWait(100);

    // Nothing is asked and nothing is sent; the row says why.
    QVERIFY(m_prompts->alertsShown.isEmpty());
    QVERIFY(m_sim->requests().isEmpty());
    QCOMPARE(s->actionState("f4").kind(), PermActionState::Kind::Failed);
    QCOMPARE(child<FeedItemRow>(s.get(), "failedtasks.row.f4")->feedback()->text(),
        "❌ 这条记录没有带任务编号，没法" + verb + "；什么都没有发给网关。");
}

void TestFeedSheets::feedbackSurvivesReload()
{
    // The gateway accepts the retry but still lists the item.
    m_sim->setFault("POST", kApi + "/commands/c2/retry", 200, "{}");
    auto s = sheet("failedtasks");
    auto* row = child<FeedItemRow>(s.get(), "failedtasks.row.f3");
    QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
    QTest::mouseClick(child<QAbstractButton>(s.get(), "failedtasks.retry.f3"), Qt::LeftButton);
    waitFinished(s.get(), "f3", spy);
    QCOMPARE(row->feedback()->text(), QStringLiteral("✅ 已放回队列"));

    QCoro::waitFor(m_status->reload(m_cfg));
    QCOMPARE(child<FeedItemRow>(s.get(), "failedtasks.row.f3"), row);
    QCOMPARE(row->feedback()->text(), QStringLiteral("✅ 已放回队列"));
    QVERIFY(row->feedback()->isVisible());
}

void TestFeedSheets::closedWhileRunning()
{
    m_sim->setFault("POST", kApi + "/feed/f1/act", 0, {}, 400, 1);
    auto s = sheet("approvals");
    QTest::mouseClick(child<QAbstractButton>(s.get(), "approvals.approve.f1"), Qt::LeftButton);
    s->reject();
    s.reset();
    // The request and its reload still run to their end.
    QTRY_VERIFY_WITH_TIMEOUT(reloads(m_sim->requests()) == 1, 15000);
    QTRY_VERIFY(m_status->pendingApprovalItems().size() == 1);
    QCOMPARE(writes(m_sim->requests()), QStringList { "POST " + kApi + "/feed/f1/act" });
}

void TestFeedSheets::screenshots()
{
    // The demo scenario, with each kind of feedback on screen.
    SimGateway demo;
    QVERIFY(demo.ok());
    const CLIConfig cfg = demo.config();
    Status status;
    QCoro::waitFor(status.reload(cfg));
    QVERIFY(!status.pendingApprovalItems().isEmpty());
    QVERIFY(!status.failedFeedItems().isEmpty());
    demo.setFault("POST", "/api/workspaces/ws-demo/feed/*", 0, {}, 1500, 1);
    demo.setFault("POST", "/api/workspaces/ws-demo/commands/c-113/retry", 409,
        R"({"error":"执行体不在线，没人能接这条任务","code":"no_runner"})");

    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    auto shoot = [&](QDialog* d, const QString& name) {
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QTest::qWait(80);
        QVERIFY(d->grab().save(QDir(dir).filePath(name)));
    };

    ApprovalsSheet approvals(&status, cfg);
    QSignalSpy approved(&approvals, &FeedItemSheet::actionFinished);
    approvals.respond(status.pendingApprovalItems().last(), true);
    shoot(&approvals, QStringLiteral("sheet-approvals.png"));
    QTRY_VERIFY_WITH_TIMEOUT(!approved.isEmpty(), 15000);
    approvals.hide();

    FailedTasksSheet failed(&status, cfg);
    QSignalSpy spy(&failed, &FeedItemSheet::actionFinished);
    for (const FeedApprovalItem& item : status.failedFeedItems()) {
        if (item.taskID == QLatin1String("c-113"))
            failed.retry(item);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!spy.isEmpty(), 15000);
    shoot(&failed, QStringLiteral("sheet-failedtasks.png"));
    failed.hide();

    Status empty;
    ApprovalsSheet none(&empty, std::nullopt);
    shoot(&none, QStringLiteral("sheet-approvals-empty.png"));
}

QTEST_MAIN(TestFeedSheets)
#include "tst_FeedSheets.moc"
