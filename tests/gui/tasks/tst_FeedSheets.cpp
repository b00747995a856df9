// The approvals and failed-tasks sheets over a small workspace; the task
// evidence view and the artifact sheet over the demo scenario; screenshots.
#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/tasks/EvidenceSnapshotFile.h"
#include "core/tasks/TaskEvidenceModel.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/EmptyState.h"
#include "gui/design/Marker.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/platform/Prompts.h"
#include "gui/tasks/ActionFeedbackLine.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/DeskArtifactSheet.h"
#include "gui/tasks/EvidenceDiffBlock.h"
#include "gui/tasks/FailedTasksSheet.h"
#include "gui/tasks/FeedItemRow.h"
#include "gui/tasks/TaskEvidenceView.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>

#include <QCoroTask>

namespace {

const QString kWs = QStringLiteral("ws-t");
const QString kApi = QStringLiteral("/api/workspaces/ws-t");
const QString kDemoApi = QStringLiteral("/api/workspaces/ws-demo");

// Two approvals (one without a command or origin), three failed items (one
// the gateway sent without its task id, one an approval that failed later).
QJsonObject workspaceState()
{
    QJsonObject ws = QJsonDocument::fromJson(R"({
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
    })")
                         .object();
    ws.insert("workspace", kWs);
    ws.insert("token", "tok-t");
    return ws;
}

// "POST path" of each logged request that changes gateway state.
QStringList writes(const QJsonArray& log)
{
    QStringList out;
    for (const QJsonValue& v : log)
        if (v["method"] == "POST")
            out.append("POST " + v["path"].toString());
    return out;
}

int reloads(const QJsonArray& log)
{
    return int(matching(log, "GET", kApi + "/feed").size());
}

template <typename W> W* child(QWidget* root, const QString& name)
{
    return root->findChild<W*>(name);
}

bool shows(QWidget* w)
{
    return w && w->isVisible();
}

void saveShot(QWidget* w, const QString& name)
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QTest::qWait(80);
    QVERIFY(w->grab().save(QDir(dir).filePath(name)));
}

} // namespace

class TestFeedSheets : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void rows_data();
    void rows();
    void actions_data();
    void actions();
    void failures_data();
    void failures();
    void deleteDeclined();
    void itemWithoutTaskId_data();
    void itemWithoutTaskId();
    void closedWhileRunning();
    void screenshots();
    void evidenceOfAFinishedCommand();
    void evidenceOfARunningCommandOnlyWhileShown();
    void artifactSheet_data();
    void artifactSheet();

private:
    std::unique_ptr<FeedItemSheet> sheet(const QString& which, std::optional<CLIConfig> cfg);
    std::unique_ptr<FeedItemSheet> sheet(const QString& which) { return sheet(which, m_cfg); }
    static void waitFinished(QSignalSpy& spy, const QString& id);
    // Status and configuration over the demo workspace, as this studio machine sees it.
    void useDemo();
    // An evidence view of demo command `id`, in a window of the product's background.
    TaskEvidenceView* evidenceView(const QString& id, bool show = true);

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<Status> m_status;
    CLIConfig m_cfg;
    ScriptedPrompts* m_prompts = nullptr;
    std::unique_ptr<QWidget> m_window;
};

void TestFeedSheets::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_sim->control("PUT", "/_sim/state/" + kWs, workspaceState());
    QCOMPARE(m_sim->lastStatus(), 200);
    m_cfg = m_sim->config(kWs);
    m_cfg.device = "dev-test";
    m_status = std::make_unique<Status>();
    QCoro::waitFor(m_status->reload(m_cfg));
    m_sim->clearRequests();
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));
}

void TestFeedSheets::cleanup()
{
    m_window.reset();
    QTRY_VERIFY(EvidenceSnapshotFile::shared().idle());
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

void TestFeedSheets::waitFinished(QSignalSpy& spy, const QString& id)
{
    QTRY_VERIFY_WITH_TIMEOUT(!spy.isEmpty(), 15000);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), id);
}

void TestFeedSheets::rows_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QStringList>("headlines");
    QTest::addColumn<QStringList>("origins"); // "" = no origin line

    QTest::newRow("approvals") << "approvals" << QStringList { "f1", "f2" }
                               << QStringList { "上线新首页", "要不要清缓存" }
                               << QStringList { "来自设备 cli-studio.local", "" };
    // A failed item never shows where it came from.
    QTest::newRow("failed tasks") << "failedtasks" << QStringList { "f3", "f4", "f5" }
                                  << QStringList { "迁移脚本", "没编号的失败", "加水印" } << QStringList { "", "", "" };
}

void TestFeedSheets::rows()
{
    QFETCH(QString, which);
    QFETCH(QStringList, ids);
    QFETCH(QStringList, headlines);
    QFETCH(QStringList, origins);

    auto s = sheet(which);
    QVERIFY(!child<QWidget>(s.get(), which + ".empty")->isVisible());
    QCOMPARE(s->findChildren<FeedItemRow*>().size(), ids.size());
    for (int i = 0; i < ids.size(); ++i) {
        auto* row = child<FeedItemRow>(s.get(), which + ".row." + ids[i]);
        QVERIFY2(row && row->isVisible(), qPrintable(ids[i]));
        QCOMPARE(child<QLabel>(row, which + ".row." + ids[i] + ".text")->text(), headlines[i]);
        QCOMPARE(row->originLabel()->isVisible() ? row->originLabel()->text() : QString(), origins[i]);
        QVERIFY(!row->feedback()->isVisible());
    }
    // Opening a sheet loads nothing.
    QVERIFY(m_sim->requests().isEmpty());
}

void TestFeedSheets::actions_data()
{
    QTest::addColumn<QString>("button"); // <sheet>.<verb>.<item>
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("action"); // the body's action, for the feed's own verbs
    QTest::addColumn<QString>("done");
    QTest::addColumn<bool>("stays"); // the gateway accepts but still lists the item

    // Approve and reject address the feed item; retry and delete the task's command.
    QTest::newRow("reject") << QStringLiteral("approvals.reject.f2") << kApi + "/feed/f2/act"
                            << QStringLiteral("ignore") << QStringLiteral("已拒绝") << false;
    QTest::newRow("retry, still listed") << QStringLiteral("failedtasks.retry.f3") << kApi + "/commands/c2/retry"
                                         << QString() << QStringLiteral("已放回队列") << true;
    QTest::newRow("delete") << QStringLiteral("failedtasks.delete.f5") << kApi + "/commands/c5/delete" << QString()
                            << QStringLiteral("已删除") << false;
}

void TestFeedSheets::actions()
{
    QFETCH(QString, button);
    QFETCH(QString, path);
    QFETCH(QString, action);
    QFETCH(QString, done);
    QFETCH(bool, stays);
    const QString which = button.section('.', 0, 0);
    const QString item = button.section('.', 2);

    m_prompts->alertAnswers = { 0 };
    // Hold the reply, and then the reload, a little so that each state can be seen.
    m_sim->setFault("POST", path, stays ? 200 : 0, stays ? "{}" : QByteArray(), 300, 1);
    m_sim->setFault("GET", kApi + "/feed", 0, {}, 600, 1);
    auto s = sheet(which);
    QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
    auto* row = child<FeedItemRow>(s.get(), which + ".row." + item);
    QTest::mouseClick(child<QAbstractButton>(s.get(), button), Qt::LeftButton);

    QTRY_VERIFY(s->actionState(item).isWorking());
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
    QCOMPARE(row->feedback()->text(), QStringLiteral("✅ ") + done);
    QVERIFY(spy.isEmpty());

    waitFinished(spy, item);
    const QJsonArray log = m_sim->requests();
    QCOMPARE(writes(log), QStringList { "POST " + path });
    if (!action.isEmpty()) {
        const QJsonArray posts = matching(log, "POST", path);
        const QJsonObject sent
            = QJsonDocument::fromJson(posts.first().toObject().value("body").toString().toUtf8()).object();
        QCOMPARE(sent, (QJsonObject { { "action", action }, { "by", "dev-test" }, { "note", "" } }));
    }
    QCOMPARE(reloads(log), 1);
    if (stays) {
        // Still listed: the same row keeps its feedback through the reload.
        QCOMPARE(child<FeedItemRow>(s.get(), which + ".row." + item), row);
        QVERIFY(row->feedback()->isVisible());
        QCOMPARE(row->feedback()->text(), QStringLiteral("✅ ") + done);
        return;
    }
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
    QTest::newRow("not paired") << "approvals.approve.f1" << 0 << QByteArray() << false << "❌ 这台电脑上还没有工作区";
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
    // Unpaired, the sheet has no configuration; the reload that follows reads the pairing files.
    if (!paired)
        m_home->writeFile(".tolvarine/config.json", QJsonDocument(m_cfg.toJson()).toJson());
    auto s = sheet("approvals", paired ? std::optional<CLIConfig>(m_cfg) : std::nullopt);
    const QString item = button.section('.', 2);
    QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
    QTest::mouseClick(child<QAbstractButton>(s.get(), button), Qt::LeftButton);
    waitFinished(spy, item);

    QCOMPARE(s->actionState(item).kind(), PermActionState::Kind::Failed);
    auto* row = child<FeedItemRow>(s.get(), "approvals.row." + item);
    QCOMPARE(row->feedback()->text(), feedback);
    // The buttons take presses again.
    for (QAbstractButton* b : row->findChildren<QAbstractButton*>())
        QVERIFY(b->isEnabled());
    QCOMPARE(reloads(m_sim->requests()), 1);
    if (!paired)
        QVERIFY(writes(m_sim->requests()).isEmpty());
}

// Deleting asks first (naming the command, else the item's title); a
// cancelled or dismissed question sends nothing. The confirmed delete is one
// of the actions above.
void TestFeedSheets::deleteDeclined()
{
    auto s = sheet("failedtasks");
    QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
    const QList<std::tuple<QString, QString, int>> cases { { "f3", "迁移脚本", 1 }, { "f5", "加水印", -1 } };
    for (const auto& [item, headline, answer] : cases) {
        m_prompts->alertAnswers = { answer };
        m_prompts->alertsShown.clear();
        QTest::mouseClick(child<QAbstractButton>(s.get(), "failedtasks.delete." + item), Qt::LeftButton);
        QCOMPARE(m_prompts->alertsShown.size(), 1);
        QVERIFY(m_prompts->alertsShown.first().informative.startsWith(headline + '\n'));
        QTest::qWait(100);
        QCOMPARE(s->actionState(item).kind(), PermActionState::Kind::Idle);
        QVERIFY(!child<FeedItemRow>(s.get(), "failedtasks.row." + item)->feedback()->isVisible());
    }
    QVERIFY(spy.isEmpty());
    QVERIFY(m_sim->requests().isEmpty());
}

void TestFeedSheets::itemWithoutTaskId_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("verb");
    QTest::newRow("retry") << QStringLiteral("failedtasks.retry.f4") << QStringLiteral("重试");
    QTest::newRow("delete") << QStringLiteral("failedtasks.delete.f4") << QStringLiteral("删除");
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
    SimGateway& demo = *m_sim;
    const CLIConfig cfg = demo.config();
    Status status;
    QCoro::waitFor(status.reload(cfg));
    const QString api = QStringLiteral("/api/workspaces/ws-demo");
    demo.setFault("POST", api + "/feed/f-201/act", 0, {}, 1500, 1);
    demo.setFault(
        "POST", api + "/feed/f-202/act", 409, R"({"error":"这条已经在手机上处理过了","code":"already_decided"})");
    // Accepted but still listed, so the success line shows.
    demo.setFault("POST", api + "/commands/c-103/retry", 200, "{}");
    demo.setFault(
        "POST", api + "/commands/c-112/retry", 409, R"({"error":"执行体不在线，没人能接这条任务","code":"no_runner"})");

    auto shoot = [&](QDialog* d, const QString& name) {
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        saveShot(d, name);
    };
    auto item = [](const QList<FeedApprovalItem>& items, const QString& id) {
        return *std::find_if(items.begin(), items.end(), [&](const FeedApprovalItem& i) { return i.id == id; });
    };

    ApprovalsSheet approvals(&status, cfg);
    QSignalSpy approved(&approvals, &FeedItemSheet::actionFinished);
    approvals.respond(item(status.pendingApprovalItems(), "f-202"), true);
    QTRY_VERIFY_WITH_TIMEOUT(!approved.isEmpty(), 15000);
    approvals.respond(item(status.pendingApprovalItems(), "f-201"), true);
    shoot(&approvals, "sheet-approvals.png");
    QTRY_VERIFY_WITH_TIMEOUT(approved.size() == 2, 15000);
    approvals.hide();

    FailedTasksSheet failed(&status, cfg);
    QSignalSpy spy(&failed, &FeedItemSheet::actionFinished);
    failed.retry(item(status.failedFeedItems(), "f-204"));
    failed.retry(item(status.failedFeedItems(), "f-205"));
    QTRY_VERIFY_WITH_TIMEOUT(spy.size() == 2, 15000);
    shoot(&failed, "sheet-failedtasks.png");
    failed.hide();

    // Nothing in the list: the empty state instead of rows.
    Status empty;
    ApprovalsSheet none(&empty, std::nullopt);
    shoot(&none, "sheet-approvals-empty.png");
    QVERIFY(child<EmptyState>(&none, "approvals.empty")->isVisible());
    QVERIFY(none.findChildren<FeedItemRow*>().isEmpty());
}

void TestFeedSheets::useDemo()
{
    m_cfg = m_sim->config();
    m_cfg.device = "dev-studio";
    QCoro::waitFor(m_status->reload(m_cfg));
    QVERIFY(!m_status->commands().isEmpty());
    m_sim->clearRequests();
}

TaskEvidenceView* TestFeedSheets::evidenceView(const QString& id, bool show)
{
    m_window = std::make_unique<QWidget>();
    m_window->setAutoFillBackground(true);
    QPalette p = m_window->palette();
    p.setColor(QPalette::Window, DS::bg());
    p.setColor(QPalette::WindowText, DS::ink());
    m_window->setPalette(p);
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(16, 16, 16, 16);
    const QList<CommandBrief> commands = m_status->commands();
    auto* v = new TaskEvidenceView(
        *std::find_if(commands.begin(), commands.end(), [&](const CommandBrief& c) { return c.id == id; }), m_cfg,
        m_status.get(), m_window.get());
    layout->addWidget(v);
    layout->addStretch(1);
    m_window->resize(640, 560);
    if (show)
        m_window->show();
    return v;
}

void TestFeedSheets::evidenceOfAFinishedCommand()
{
    useDemo();
    // Before the first fetch (and before it is shown): reading.
    TaskEvidenceView* v = evidenceView("c-101", false);
    auto* marker = child<Marker>(v, "evidence.state.c-101");
    QCOMPARE(marker->label(), QStringLiteral("loading"));
    QCOMPARE(child<QLabel>(v, "evidence.headline.c-101")->text(), QStringLiteral("正在读…"));
    m_window->show();

    // A replay: no poll counter and no progress (the screenshot shows the rest).
    QTRY_COMPARE(marker->label(), QStringLiteral("artifacts"));
    QVERIFY(!shows(child<QWidget>(v, "evidence.polls.c-101")) && !shows(child<QWidget>(v, "evidence.progress.c-101")));
    QCOMPARE(child<QLabel>(v, "evidence.headline.c-101")->text(), QStringLiteral("产物 2 份"));
    auto* diff = child<EvidenceDiffBlock>(v, "evidence.diff.c-101");
    QVERIFY(shows(diff) && !diff->isExpanded());

    // Opening a row shows its file in the sheet; closing it clears the opening.
    QTest::mouseClick(child<QAbstractButton>(v, "evidence.open.src/orders/OrderList.php"), Qt::LeftButton);
    QCOMPARE(v->opening()->file().path, QStringLiteral("src/orders/OrderList.php"));
    QTRY_VERIFY(v->opening()->text().has_value());
    saveShot(v->opening(), "artifact-sheet.png");
    QTest::mouseClick(child<QAbstractButton>(v->opening(), "deskartifact.close"), Qt::LeftButton);
    QTRY_VERIFY(!v->opening());

    // With the diff and the details open.
    diff->setExpanded(true);
    QTest::mouseClick(child<QAbstractButton>(v, "evidence.diagnostics.toggle.c-101"), Qt::LeftButton);
    QVERIFY(shows(child<QWidget>(v, "evidence.diagnostics.c-101")));
    saveShot(m_window.get(), "evidence-finished.png");

    // A finished command is fetched once.
    QCOMPARE(int(matching(m_sim->requests(), "GET", kDemoApi + "/commands/c-101/changes").size()), 1);
}

void TestFeedSheets::evidenceOfARunningCommandOnlyWhileShown()
{
    useDemo();
    TaskEvidenceView* v = evidenceView("c-105");
    TaskEvidenceModel* model = v->model();
    QTRY_COMPARE(model->polls(), 1);
    QVERIFY(child<QLabel>(v, "evidence.polls.c-105")->text().startsWith(QStringLiteral("第 1 拍 · ")));
    // The last three actions of the tail.
    QStringList actions;
    for (ElidedLabel* l : child<QWidget>(v, "evidence.progress.c-105")->findChildren<ElidedLabel*>())
        if (l->isVisible())
            actions.append(l->text());
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions.last(), model->progressTail().last().action);

    // Hidden, it fetches nothing; shown again, it fetches at once.
    m_window->hide();
    const auto changes
        = [&] { return int(matching(m_sim->requests(), "GET", kDemoApi + "/commands/c-105/changes").size()); };
    const int before = changes();
    QTest::qWait(2500);
    QCOMPARE(changes(), before);
    m_window->show();
    QTRY_COMPARE(changes(), before + 1);
}

void TestFeedSheets::artifactSheet_data()
{
    QTest::addColumn<QString>("path"); // of c-105
    QTest::addColumn<QByteArray>("fault"); // the blob request's first answer, "" for none
    QTest::addColumn<QString>("title"); // "" when the text shows
    QTest::addColumn<QString>("why");

    QTest::newRow("text") << "src/checkout/CouponStack.php" << QByteArray() << QString() << QString();
    QTest::newRow("not uploaded, with a note")
        << "docs/api/checkout.md" << QByteArray() << QStringLiteral("打不开这份产物")
        << QStringLiteral("文档改动只上报了 diff");
    QTest::newRow("not on the server")
        << "config/coupons.yml" << QByteArray() << QStringLiteral("打不开这份产物")
        << QStringLiteral("服务器上没有这份内容。可能是工作区搬过家、内容已被清理，或者它不属于当前工作区。");
    // The only case that offers a retry.
    QTest::newRow("gateway error, then retry")
        << "src/checkout/CouponStack.php" << QByteArray(R"({"error":"存储暂时不可用"})")
        << QStringLiteral("文档暂时无法打开") << QStringLiteral("取内容失败：存储暂时不可用");
}

void TestFeedSheets::artifactSheet()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, fault);
    QFETCH(QString, title);
    QFETCH(QString, why);
    useDemo();

    const QList<DeskFileChange> files = QCoro::waitFor(m_status->evidenceSnapshot("c-105", m_cfg)).state.changes.files;
    const auto it = std::find_if(files.begin(), files.end(), [&](const DeskFileChange& f) { return f.path == path; });
    QVERIFY(it != files.end());
    if (!fault.isEmpty())
        m_sim->setFault("GET", kDemoApi + "/blobs/" + it->hash, 503, fault, 0, 1);
    m_sim->clearRequests();

    DeskArtifactSheet sheet(*it, m_cfg, m_status.get(), "重写购物车结算接口");
    QSignalSpy loaded(&sheet, &DeskArtifactSheet::loadFinished);
    sheet.open();
    QTRY_COMPARE(loaded.size(), 1);
    const auto blobRequests
        = [&] { return int(matching(m_sim->requests(), "GET", kDemoApi + "/blobs/" + it->hash).size()); };
    QCOMPARE(blobRequests(), it->hash.isEmpty() ? 0 : 1);

    if (title.isEmpty()) {
        QVERIFY(child<QPlainTextEdit>(&sheet, "deskartifact.body")->toPlainText().contains("final class CouponStack"));
        return;
    }
    QCOMPARE(child<QWidget>(&sheet, "deskartifact.error")->findChildren<QLabel*>().first()->text(), title);
    QCOMPARE(child<QLabel>(&sheet, "deskartifact.error.why")->text(), why);
    auto* retryButton = child<SecondaryButton>(&sheet, "deskartifact.retry");
    QCOMPARE(shows(retryButton), !fault.isEmpty());
    if (fault.isEmpty())
        return;
    QTest::mouseClick(retryButton, Qt::LeftButton);
    QTRY_COMPARE(loaded.size(), 2);
    QVERIFY(shows(child<QWidget>(&sheet, "deskartifact.body")));
    QCOMPARE(blobRequests(), 2);
}

QTEST_MAIN(TestFeedSheets)
#include "tst_FeedSheets.moc"
