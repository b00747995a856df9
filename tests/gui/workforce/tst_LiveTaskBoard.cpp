// The live task board over the status model: which commands it shows and
// who it says runs them, cards kept (not rebuilt) across reloads, and a
// screenshot of two running commands.
#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/tasks/EvidenceSnapshotFile.h"
#include "core/tasks/TaskEvidenceModel.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/ElidedLine.h"
#include "gui/tasks/TaskEvidenceView.h"
#include "gui/workforce/LiveTaskBoard.h"
#include "gui/workforce/LiveTaskCard.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QDir>
#include <QLabel>
#include <QSet>
#include <QtTest>

#include <QCoroTask>

namespace {

const QString kWs = QStringLiteral("ws-b");

QJsonObject employee(const QString& id, const QString& name)
{
    return QJsonObject { { "id", id }, { "name", name }, { "status", "working" },
        { "template", QJsonObject { { "name", "AI Developer" }, { "role", "后端" } } } };
}

QJsonObject command(const QString& id, const QString& status, const QString& employeeId = QString())
{
    QJsonObject c { { "id", id }, { "text", "任务 " + id }, { "status", status } };
    if (!employeeId.isEmpty())
        c.insert("employee_id", employeeId);
    return c;
}

QJsonObject workspace(const QJsonArray& commands, const QJsonArray& employees = {})
{
    return QJsonObject { { "workspace", kWs }, { "token", "tok-b" }, { "commands", commands },
        { "employees", employees } };
}

template <typename W> W* child(QWidget* root, const QString& name)
{
    return root->findChild<W*>(name);
}

} // namespace

class TestLiveTaskBoard : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void whoRunsIt();
    void unchangedCardsKeepTheirWidgets();
    void screenshot();

private:
    void load(const QJsonObject& state);

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<Status> m_status;
    CLIConfig m_cfg;
};

void TestLiveTaskBoard::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_status = std::make_unique<Status>();
}

void TestLiveTaskBoard::cleanup()
{
    QTRY_VERIFY(EvidenceSnapshotFile::shared().idle());
    m_status.reset();
    m_sim.reset();
    m_home.reset();
}

void TestLiveTaskBoard::load(const QJsonObject& state)
{
    m_sim->control("PUT", QStringLiteral("/_sim/state/") + kWs, state);
    QCOMPARE(m_sim->lastStatus(), 200);
    m_cfg = m_sim->config(kWs);
    QCoro::waitFor(m_status->reload(m_cfg));
    QVERIFY(!m_status->commandsError());
}

void TestLiveTaskBoard::whoRunsIt()
{
    QJsonObject timed = command("c-timed", "claimed", "emp-1");
    timed.insert("claimed_at", "@now-75");
    load(workspace(QJsonArray { command("c-named", "claimed", "emp-1"), command("c-nameless", "claimed", "emp-2"),
                       command("c-stranger", "claimed", "emp-9"), command("c-machine", "claimed"),
                       command("c-shout", "Claimed", "emp-1"), command("c-done", "done", "emp-1"), timed },
        QJsonArray { employee("emp-1", "林小满"), employee("emp-2", ""), employee("emp-1", "另一个林") }));

    LiveTaskBoard board(m_status.get(), m_cfg);
    QCOMPARE(child<QLabel>(&board, "liveboard.count.5")->text(), QStringLiteral("此刻在跑（5）"));
    QVERIFY(child<QLabel>(&board, "liveboard.empty")->isHidden());

    const QList<std::pair<QString, QString>> expected {
        { "c-named", "林小满" },
        { "c-nameless", "" },
        { "c-stranger", "指派给了一位这里查不到的同事" },
        { "c-machine", "无主 · 机器领的" },
        { "c-timed", "林小满" },
    };
    QList<LiveTaskCard*> cards = board.cards();
    QCOMPARE(cards.size(), expected.size());
    for (int i = 0; i < cards.size(); ++i) {
        QCOMPARE(cards[i]->objectName(), "liveboard.card." + expected[i].first);
        QCOMPARE(cards[i]->findChild<ElidedLine*>()->text(), expected[i].second);
    }
    auto elapsed = [](LiveTaskCard* card) {
        for (QLabel* l : card->findChildren<QLabel*>())
            if (l->text().startsWith(QStringLiteral("已跑 ")))
                return l->isHidden() ? QString() : l->text();
        return QString();
    };
    QCOMPARE(elapsed(board.card("c-timed")), QStringLiteral("已跑 1 分钟前"));
    QCOMPARE(elapsed(board.card("c-named")), QString());

    // Nothing running: the count 0 and the empty text, no card.
    load(workspace(QJsonArray { command("c-done", "done") }));
    board.refresh();
    QVERIFY(child<QLabel>(&board, "liveboard.count.0"));
    QVERIFY(!child<QLabel>(&board, "liveboard.empty")->isHidden());
    QVERIFY(board.cards().isEmpty());
}

void TestLiveTaskBoard::unchangedCardsKeepTheirWidgets()
{
    QJsonArray commands;
    for (int i = 0; i < 50; ++i)
        commands.append(command(QStringLiteral("c-%1").arg(i), "claimed", "emp-1"));
    const QJsonArray team { employee("emp-1", "林小满") };
    load(workspace(commands, team));
    LiveTaskBoard board(m_status.get(), m_cfg);
    QCOMPARE(board.cards().size(), 50);
    const QList<QWidget*> before = board.findChildren<QWidget*>();

    // One command's text changes; the others are as they were.
    QJsonObject changed = commands.at(7).toObject();
    changed.insert("text", "改过的任务");
    commands.replace(7, changed);
    load(workspace(commands, team));
    board.refresh();
    const QList<QWidget*> after = board.findChildren<QWidget*>();
    QCOMPARE(QSet<QWidget*>(after.begin(), after.end()), QSet<QWidget*>(before.begin(), before.end()));
    QCOMPARE(board.card("c-7")->findChild<ElidedLabel*>()->text(), QStringLiteral("改过的任务"));
}

void TestLiveTaskBoard::screenshot()
{
    // The demo's running command and a second one whose progress cannot be read.
    SimGateway demo;
    QVERIFY(demo.ok());
    QJsonObject state = demo.control("GET", "/_sim/state/ws-demo").object();
    QJsonArray commands = state.value("commands").toArray();
    for (int i = 0; i < commands.size(); ++i) {
        QJsonObject c = commands.at(i).toObject();
        if (c.value("id") == "c-109") {
            c.insert("status", "claimed");
            c.insert("claimed_by", "dev-laptop");
            c.insert("claimed_at", "@now-130");
            commands.replace(i, c);
        }
    }
    demo.control("PATCH", "/_sim/state/ws-demo", QJsonObject { { "commands", commands } });
    demo.setFault("GET", "/api/workspaces/ws-demo/commands/c-109/progress", 503,
        R"({"error":"进度服务暂时不可用","code":"unavailable"})");
    CLIConfig cfg = demo.config();
    cfg.device = QStringLiteral("dev-studio");
    QCoro::waitFor(m_status->reload(cfg));

    QWidget window;
    window.setAutoFillBackground(true);
    QPalette p = window.palette();
    p.setColor(QPalette::Window, DS::bg());
    p.setColor(QPalette::WindowText, DS::ink());
    window.setPalette(p);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(20, 20, 20, 20);
    auto* board = new LiveTaskBoard(m_status.get(), cfg, &window);
    layout->addWidget(board);
    layout->addStretch(1);
    window.resize(760, 1100);
    window.show();
    TaskEvidenceView* running = board->card("c-105")->evidence();
    TaskEvidenceView* failing = board->card("c-109")->evidence();
    QTRY_VERIFY(running->model()->polls() >= 1 && failing->model()->polls() >= 1);
    QVERIFY(failing->model()->progressError().has_value());
    QTest::qWait(50);

    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(window.grab().save(QDir(dir).filePath(QStringLiteral("live-board.png"))));
}

QTEST_MAIN(TestLiveTaskBoard)
#include "tst_LiveTaskBoard.moc"
