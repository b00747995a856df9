#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/tasks/PermActions.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/Chip.h"
#include "gui/design/Disclosure.h"
#include "gui/design/FaceButton.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/ProseLabel.h"
#include "gui/platform/Prompts.h"
#include "gui/tasks/ActionFeedbackLine.h"
#include "gui/tasks/PermList.h"
#include "gui/tasks/PermSection.h"
#include "gui/tasks/PermTierRow.h"
#include "gui/tasks/RunnersCard.h"
#include "gui/tasks/RuntimeStateCard.h"
#include "gui/tasks/TasksCard.h"

#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"

#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <QCoroTask>

using namespace std::chrono_literals;

namespace {

const QString kWs = QStringLiteral("ws-p");
const QString kApi = QStringLiteral("/api/workspaces/ws-p");
const QString kAdvice = QStringLiteral("这一档不能远程开——它要求本机先声明允许，而只有 `brenlow grant` 会写那份声明。");

QJsonObject perms(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

// "POST <tier> <approve>" for each confirmation sent, in order.
QStringList confirmations(const QJsonArray& log)
{
    QStringList out;
    const QRegularExpression path("^" + kApi + "/permissions/([a-z]+)/confirm$");
    for (const QJsonValue& v : log) {
        const QJsonObject r = v.toObject();
        const auto m = path.match(r.value("path").toString());
        if (r.value("method").toString() != QLatin1String("POST") || !m.hasMatch())
            continue;
        const QJsonObject body = QJsonDocument::fromJson(r.value("body").toString().toUtf8()).object();
        out.append(m.captured(1) + (body.value("approve").toBool() ? " true" : " false"));
    }
    return out;
}

// One status reload loads the command list once.
int reloads(const QJsonArray& log)
{
    return int(matching(log, "GET", kApi + "/commands").size());
}

} // namespace

class TestPermSection : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void actions_data();
    void actions();
    void grantThenApprove();
    void reloadsTheSelectedWorkspace();
    void cardsFollowTheModel();
    void screenshots();

private:
    void load(const QJsonObject& permissions);
    PermTierRow* row(const QString& key) const { return m_section->permList()->row(key); }
    void press(const QString& key, const QString& title);

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<SimTool> m_tool;
    std::unique_ptr<Status> m_status;
    std::unique_ptr<PermSection> m_section;
    CLIConfig m_cfg;
    QString m_folder;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestPermSection::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_tool = std::make_unique<SimTool>(*m_home);
    m_folder = m_home->filePath("shop");
    QVERIFY(QDir().mkpath(m_folder));
    m_sim->control("PUT", "/_sim/state/" + kWs,
        QJsonObject { { "token", "tok-p" }, { "commands", QJsonArray {} }, { "runners", QJsonArray {} },
            { "runners_read", true }, { "employees", QJsonArray {} }, { "agents", QJsonArray {} },
            { "feed", QJsonArray {} } });
    QCOMPARE(m_sim->lastStatus(), 200);
    m_cfg = m_sim->config(kWs);
    m_cfg.device = "dev-perm";
    m_cfg.path = m_folder;
    m_status = std::make_unique<Status>();
    // The window reloads the workspace selected when an action ends.
    m_section = std::make_unique<PermSection>(m_status.get(), nullptr, [this] { return m_status->reload(m_cfg); });
    m_section->resize(760, 900);
    m_section->show();
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));
}

void TestPermSection::cleanup()
{
    Prompts::setShared(nullptr);
    m_prompts = nullptr;
    m_section.reset();
    m_status.reset();
    m_tool.reset();
    m_sim.reset();
    m_home.reset();
}

void TestPermSection::load(const QJsonObject& permissions)
{
    m_sim->control("PATCH", "/_sim/state/" + kWs, QJsonObject { { "permissions", permissions } });
    QCoro::waitFor(m_status->reload(m_cfg));
    m_section->refresh();
    m_sim->clearRequests();
}

void TestPermSection::press(const QString& key, const QString& title)
{
    QVERIFY2(row(key), qPrintable(key));
    FaceButton* button = row(key)->button(title);
    QVERIFY2(button, qPrintable(key + ": " + title));
    QTest::mouseClick(button, Qt::LeftButton);
}

void TestPermSection::actions_data()
{
    QTest::addColumn<QByteArray>("permissions");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("answer"); // the alert's answer; -2: no alert
    QTest::addColumn<QByteArray>("tool"); // "<exit code>:<output>" the tool answers; "delay" hangs it
    QTest::addColumn<QStringList>("sent"); // confirmations
    QTest::addColumn<QString>("argv"); // the tool's run, "" none
    QTest::addColumn<QString>("feedback"); // a pattern; "" no line
    QTest::addColumn<QString>("after"); // the tier's state word after the reload

    const QByteArray base = R"({"effective":{"read":true,"write":true},"pending":[],
        "ceiling":["read","write","exec","web","danger"]})";
    const QByteArray dangerPending = R"({"effective":{"read":true},"pending":["danger"],"ceiling":["read","danger"]})";
    // exec waits outside the declaration: its automatic confirmation failed and is not tried again.
    const QByteArray execStuck = R"({"effective":{"read":true},"pending":["exec"],"ceiling":["read"]})";
    const QString okAt = QStringLiteral(" · \\d\\d:\\d\\d:\\d\\d$");
    const QString words = QStringLiteral("x").repeated(60) + QStringLiteral("y").repeated(240);

    QTest::newRow("revoke") << base << "read"
                            << "收回" << -2 << QByteArray() << QStringList { "read false" } << ""
                            << "^✅ 已收回" + okAt << "未授权";
    QTest::newRow("approve") << base << "web"
                             << "授权" << -2 << QByteArray() << QStringList { "web true" } << ""
                             << "^✅ 已批准" + okAt << "已授权";
    QTest::newRow("grant_exceeds_source")
        << base << "push"
        << "授权" << -2 << QByteArray() << QStringList { "push true" } << ""
        << "^" + QRegularExpression::escape("❌ 本机没有声明允许这一档：push " + kAdvice) + "$"
        << "未授权";
    QTest::newRow("approve after the automatic one failed")
        << execStuck << "exec"
        << "批准" << -2 << QByteArray() << QStringList { "exec true" } << ""
        << "^❌ 本机没有声明允许这一档：exec"
        << "等你确认";
    QTest::newRow("approve danger") << dangerPending << "danger"
                                    << "批准" << 0 << QByteArray() << QStringList { "danger true" } << ""
                                    << "^✅ 已批准" + okAt << "已授权";
    QTest::newRow("approve danger, cancelled") << dangerPending << "danger"
                                               << "批准" << 1 << QByteArray() << QStringList {} << ""
                                               << ""
                                               << "等你确认";
    QTest::newRow("grant, tool fails") << base << "danger"
                                       << "在这台机器上授权（不可逆）" << 0 << "3:" + words.toUtf8() + "\n\n  \n"
                                       << QStringList {} << "grant read write danger"
                                       << "^❌ " + QStringLiteral("y").repeated(240) + "$"
                                       << "未授权";
    QTest::newRow("grant, tool hangs") << base << "danger"
                                       << "在这台机器上授权（不可逆）" << 0 << QByteArray("delay") << QStringList {}
                                       << "grant read write danger"
                                       << "^❌ brenlow grant 超过 0.5 秒还没结束，已经把它停掉了。$"
                                       << "未授权";
}

void TestPermSection::actions()
{
    QFETCH(QByteArray, permissions);
    QFETCH(QString, key);
    QFETCH(QString, button);
    QFETCH(int, answer);
    QFETCH(QByteArray, tool);
    QFETCH(QStringList, sent);
    QFETCH(QString, argv);
    QFETCH(QString, feedback);
    QFETCH(QString, after);

    load(perms(permissions));
    if (tool == "delay") {
        m_tool->put("grant.delay_ms", "5000");
        m_section->actions()->setGrantTimeLimit(500ms);
    } else if (!tool.isEmpty()) {
        m_tool->answer("grant", tool.mid(tool.indexOf(':') + 1), tool.left(tool.indexOf(':')).toInt());
    }
    if (answer != -2)
        m_prompts->alertAnswers = { answer };
    PermTierRow* tierRow = row(key);
    QSignalSpy finished(m_section.get(), &PermSection::actionFinished);
    press(key, button);

    const bool acts = answer == -2 || answer == 0;
    QCOMPARE(m_prompts->alertsShown.size(), answer == -2 ? 0 : 1);
    if (answer != -2)
        QVERIFY(m_prompts->alertsShown.first().style == Prompts::Style::Critical);
    if (acts) {
        // Busy at once: the tier's buttons take no presses until the end.
        QVERIFY(m_section->actions()->state(key).isWorking());
        for (FaceButton* b : tierRow->buttons()) {
            if (auto* primary = qobject_cast<PrimaryButton*>(b))
                QVERIFY(primary->isBusy());
            else
                QVERIFY(!b->isEnabled());
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
    } else {
        QTest::qWait(200);
        QVERIFY(finished.isEmpty());
    }

    const QJsonArray log = m_sim->requests();
    QCOMPARE(confirmations(log), sent);
    QCOMPARE(reloads(log), acts ? 1 : 0);
    const QStringList runs = m_tool->argvs();
    QCOMPARE(runs, argv.isEmpty() ? QStringList {} : QStringList { argv });
    if (!argv.isEmpty())
        QCOMPARE(m_tool->calls().first().value("cwd").toString(), QDir(m_folder).canonicalPath());

    // The same row, redrawn in place, with the feedback under it.
    m_section->refresh();
    QCOMPARE(row(key), tierRow);
    QCOMPARE(tierRow->stateWord()->text(), after);
    if (feedback.isEmpty()) {
        QVERIFY(!tierRow->feedback()->isVisibleTo(m_section.get()));
        return;
    }
    QVERIFY2(QRegularExpression(feedback).match(tierRow->feedback()->text()).hasMatch(),
        qPrintable(tierRow->feedback()->text()));
    // The feedback outlives the next poll.
    QCoro::waitFor(m_status->reload(m_cfg));
    m_section->refresh();
    QCOMPARE(row(key), tierRow);
    QVERIFY(QRegularExpression(feedback).match(tierRow->feedback()->text()).hasMatch());
    for (FaceButton* b : tierRow->buttons())
        QVERIFY(b->isEnabled());
}

// Granting declares the tier on this machine; approving it then turns it on.
void TestPermSection::grantThenApprove()
{
    load(perms(R"({"effective":{"read":true,"write":true},"pending":["exec"],"ceiling":["read","write","exec"]})"));
    // exec was confirmed automatically by the reload.
    QCOMPARE(row("exec")->stateWord()->text(), QStringLiteral("已授权"));
    QVERIFY(row("exec")->feedback()->text().startsWith("✅ 已自动批准 · "));

    QSignalSpy finished(m_section.get(), &PermSection::actionFinished);
    m_prompts->alertAnswers = { 0, 0 };
    press("danger", "在这台机器上授权（不可逆）");
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
    QCOMPARE(m_tool->argvs(), QStringList { "grant read write exec danger" });
    const QJsonObject env = m_tool->calls().first().value("env").toObject();
    QCOMPARE(env.value("TOLVARINE_WS").toString(), kWs);
    QCOMPARE(row("danger")->stateWord()->text(), QStringLiteral("等你确认"));
    QVERIFY(row("danger")->feedback()->text().startsWith("✅ 已授权 · "));

    press("danger", "批准");
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 15000);
    QCOMPARE(confirmations(m_sim->requests()), QStringList { "danger true" });
    QCOMPARE(row("danger")->stateWord()->text(), QStringLiteral("已授权"));
    QCOMPARE(m_prompts->alertsShown.size(), 2);
    QCOMPARE(m_prompts->alertsShown.at(0).buttons, (QStringList { "我确认，开", "算了" }));
    QCOMPARE(m_prompts->alertsShown.at(1).buttons, (QStringList { "我确认，生效", "算了" }));
}

// The reload after an action is for the workspace selected when it ends.
void TestPermSection::reloadsTheSelectedWorkspace()
{
    load(perms(R"({"effective":{"read":true},"pending":[]})"));
    m_sim->setFault("POST", kApi + "/permissions/read/confirm", 0, {}, 300, 1);
    QSignalSpy finished(m_section.get(), &PermSection::actionFinished);
    press("read", "收回");
    m_cfg = m_sim->config("ws-demo");
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
    const QJsonArray log = m_sim->requests();
    QCOMPARE(confirmations(log), QStringList { "read false" });
    QCOMPARE(reloads(log), 0);
    QCOMPARE(matching(log, "GET", "/api/workspaces/ws-demo/commands").size(), 1);
}

// The cards follow each reload in place: widgets are kept by id.
void TestPermSection::cardsFollowTheModel()
{
    QJsonArray commands;
    for (int i = 1; i <= 13; ++i) {
        commands.append(QJsonObject { { "id", QString("t%1").arg(i) }, { "text", QString("任务 %1").arg(i) },
            { "status", i == 13 ? "claimed" : (i == 12 ? "parked" : "done") }, { "claimed_by", "dev-perm" },
            { "issued_at", "@now-60" } });
    }
    m_sim->control("PATCH", "/_sim/state/" + kWs,
        QJsonObject { { "commands", commands },
            { "runners", QJsonArray { QJsonObject { { "device_id", "dev-perm" }, { "seconds_ago", 2 } } } } });
    load(perms(R"({"effective":{"read":true},"pending":[]})"));

    RuntimeStateCard* card = m_section->runtimeCard();
    QCOMPARE(card->title()->text(), QStringLiteral("正在执行 · 这台机器"));
    QCOMPARE(card->command()->text(), QStringLiteral("「任务 13」"));
    TasksCard* tasks = m_section->tasksCard();
    QCOMPARE(tasks->header()->text(), QStringLiteral("任务（13）"));
    QCOMPARE(tasks->grid()->cells().size(), 12);
    QVERIFY(tasks->findChild<QWidget*>("taskstate.t13.claimed"));
    QVERIFY(tasks->findChild<Chip*>("taskstate.t12.parked"));
    QVERIFY(!tasks->findChild<QWidget*>("tasks.row.t1"));
    RunnersCard* runners = m_section->runnersCard();
    QWidget* here = runners->row("dev-perm");
    QVERIFY(here);

    // The running task finishes; nothing else changes.
    QWidget* cell = tasks->grid()->cell("t5");
    commands[12] = QJsonObject { { "id", "t13" }, { "text", "任务 13" }, { "status", "done" }, { "summary", "改好了" },
        { "issued_at", "@now-60" }, { "completed_at", "@now-5" } };
    m_sim->control("PATCH", "/_sim/state/" + kWs, QJsonObject { { "commands", commands } });
    QCoro::waitFor(m_status->reload(m_cfg));
    m_section->refresh();
    QCOMPARE(card->title()->text(), QStringLiteral("上一趟已完成"));
    QCOMPARE(card->headline()->accessibleName(), QStringLiteral("改好了"));
    QCOMPARE(tasks->grid()->cell("t5"), cell);
    QCOMPARE(runners->row("dev-perm"), here);
    QVERIFY(tasks->findChild<QWidget*>("taskstate.t13.done"));
    QVERIFY(!tasks->findChild<QWidget*>("taskstate.t13.claimed"));

    // An unreadable command list: the cards go, the state card says why.
    m_sim->setFault("GET", kApi + "/commands", 500, R"({"error":"坏了"})");
    QCoro::waitFor(m_status->reload(m_cfg));
    m_section->refresh();
    QCOMPARE(card->title()->text(), QStringLiteral("读不到执行状态"));
    QVERIFY(!tasks->isVisibleTo(m_section.get()));
    QVERIFY(!runners->isVisibleTo(m_section.get()));
}

void TestPermSection::screenshots()
{
    // The demo workspace as this computer's runner sees it.
    SimGateway& demo = *m_sim;
    CLIConfig cfg = demo.config();
    cfg.device = "dev-studio";
    Status status;
    // The stand-in tool's runtimes: some installed ones cannot enforce every tier.
    RuntimeInventoryStore inventory;
    QSignalSpy inventoryRead(&inventory, &RuntimeInventoryStore::refreshed);
    inventory.refresh();
    QTRY_COMPARE_WITH_TIMEOUT(inventoryRead.size(), 1, 15000);

    QWidget host;
    host.setAutoFillBackground(true);
    QPalette palette = host.palette();
    palette.setColor(QPalette::Window, DS::bg());
    host.setPalette(palette);
    auto* layout = new QVBoxLayout(&host);
    layout->setContentsMargins(20, 20, 20, 20);
    auto* section = new PermSection(&status, &inventory, {}, &host);
    layout->addWidget(section);
    layout->addStretch(1);
    host.resize(800, 2400);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    const auto shoot = [&](const QString& name) {
        section->refresh();
        QTest::qWait(80);
        QVERIFY(section->grab().save(QDir(dir).filePath(name)));
    };

    // A task running here.
    QCoro::waitFor(status.reload(cfg));
    QCOMPARE(status.runtimeState().kind, RuntimeState::Kind::Running);
    shoot("perm-section-running.png");

    // Nothing runs; danger waits, and exec's automatic confirmation failed.
    QJsonArray commands = demo.control("GET", "/_sim/state/ws-demo").object().value("commands").toArray();
    for (int i = 0; i < commands.size(); ++i) {
        QJsonObject c = commands[i].toObject();
        if (c.value("status") == QLatin1String("claimed"))
            c.insert("status", "pending");
        commands[i] = c;
    }
    demo.control("PATCH", "/_sim/state/ws-demo",
        QJsonObject { { "commands", commands },
            { "permissions", perms(R"({"effective":{"read":true,"write":true},"pending":["exec","danger"],
                    "ceiling":["read","write","danger"]})") } });
    QCoro::waitFor(status.reload(cfg));
    QCOMPARE(status.runtimeState().kind, RuntimeState::Kind::AwaitingGrant);
    QVERIFY(status.autoFailed().contains("exec"));
    section->permList()->rules()->setExpanded(true);
    shoot("perm-section-awaiting-grant.png");
    QVERIFY(section->permList()->grab().save(QDir(dir).filePath("perm-list-pending-danger.png")));
    PermTierRow* exec = section->permList()->row("exec");
    QVERIFY(exec->feedback()->text().startsWith("❌ 自动批准没成："));
    QVERIFY(!exec->autoNote()->isVisibleTo(exec));
    auto* note = exec->findChild<QLabel*>("perm.exec.unenforceable");
    QVERIFY(note && note->isVisible());
    QVERIFY(note->text().startsWith("⚠️ Claude Code"));
    QVERIFY(!section->permList()->row("web")->findChild<QLabel*>("perm.web.unenforceable")->isVisible());
}

QTEST_MAIN(TestPermSection)
#include "tst_PermSection.moc"
