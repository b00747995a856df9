// Every action and every evidence fetch of the window, each across a switch
// of workspace while its request or its confirmation is pending: nothing is
// sent, fetched or shown with one workspace's configuration for another's
// item. Both workspaces list items with the same ids, so an item sent under
// the wrong one would be accepted there.
#include "core/gateway/Status.h"
#include "core/platform/ReduceMotion.h"
#include "core/platform/SecretStore.h"
#include "core/runtimes/RecoveryRunner.h"
#include "core/shell/WindowController.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/FaceButton.h"
#include "gui/platform/Prompts.h"
#include "gui/shell/MainWindow.h"
#include "gui/tasks/ActionFeedbackLine.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/EvidenceArtifactRow.h"
#include "gui/tasks/FailedTasksSheet.h"
#include "gui/tasks/PermList.h"
#include "gui/tasks/PermSection.h"
#include "gui/tasks/PermTierRow.h"
#include "gui/workforce/LiveTaskCard.h"

#include "BlockingSecretStore.h"
#include "HeldPrompts.h"
#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"
#include "WindowTestSetUp.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

namespace {

const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };
const QString kGrant = QStringLiteral("在这台机器上授权（不可逆）");
const QString kArtifact = QStringLiteral("src/checkout/CartController.php");

// The demo workspace as `id`: the same commands, team and evidence, a feed of
// one approval and one failed task, and these tiers.
QJsonObject workspace(const QJsonObject& demo, const QString& id, bool running, const char* permissions)
{
    QJsonObject ws = demo;
    ws.insert("workspace", id);
    ws.insert("token", "tok-" + id);
    ws.insert("name", id);
    ws.remove("advance");
    if (!running) {
        QJsonArray commands;
        for (const QJsonValue& c : demo["commands"].toArray())
            if (c["status"] != "claimed")
                commands.append(c);
        ws.insert("commands", commands);
    }
    ws.insert("feed",
        QJsonDocument::fromJson(R"([
        {"id":"f1","task_id":"c-107","category":"approval","title":"上线","command":"上线新首页","status":"pending"},
        {"id":"f3","task_id":"c-103","category":"failed","title":"迁移失败","command":"迁移脚本"}
    ])")
            .array());
    ws.insert("permissions", QJsonDocument::fromJson(permissions).object());
    return ws;
}

} // namespace

class TestWorkspaceSwitch : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_setUp.emplace();
        m_prompts = m_setUp->prompts();
        m_world = std::make_unique<SimWorld>();
        QVERIFY2(m_world->sim->ok(), m_world->sim->output().constData());
        SimGateway& sim = *m_world->sim;
        const QJsonObject demo = sim.control("GET", "/_sim/state/ws-demo").object();
        // A's "write" cannot be confirmed automatically (it then offers "批准"); B has nothing pending.
        sim.control("PUT", "/_sim/state/ws-a",
            workspace(demo, "ws-a", true, R"({"effective":{"read":true},"pending":["write"],"ceiling":["read"]})"));
        sim.control("PUT", "/_sim/state/ws-b",
            workspace(demo, "ws-b", false, R"({"effective":{"read":true},"pending":[],"ceiling":["read"]})"));
        QCOMPARE(sim.lastStatus(), 200);
        m_world->pair({ "ws-a", "ws-b" });
    }

    void cleanup()
    {
        m_world.reset();
        m_setUp.reset();
    }

    void listsTravelWithTheirWorkspace_data()
    {
        QTest::addColumn<QString>("press"); // a sheet's button, "perm.<tier>.<title>", or a fetch
        QTest::addColumn<QString>("held"); // "METHOD path" under ws-a answered slowly; "" holds the confirmation
        QTest::addColumn<QStringList>("sent"); // what the press sends (under ws-a)

        const QString a = QStringLiteral("/api/workspaces/ws-a");
        const auto post = [&a](const QString& path) { return "POST " + a + path; };
        QTest::newRow("approve") << "approvals.approve.f1" << post("/feed/f1/act")
                                 << QStringList { post("/feed/f1/act") };
        QTest::newRow("reject") << "approvals.reject.f1" << post("/feed/f1/act")
                                << QStringList { post("/feed/f1/act") };
        QTest::newRow("retry") << "failedtasks.retry.f3" << post("/commands/c-103/retry")
                               << QStringList { post("/commands/c-103/retry") };
        // Confirmed once the item is no longer listed under its workspace: nothing is sent.
        QTest::newRow("delete, confirmed after the switch") << "failedtasks.delete.f3"
                                                            << "" << QStringList {};
        QTest::newRow("permission approve") << "perm.write.批准" << post("/permissions/write/confirm")
                                            << QStringList { post("/permissions/write/confirm") };
        QTest::newRow("permission take back") << "perm.read.收回" << post("/permissions/read/confirm")
                                              << QStringList { post("/permissions/read/confirm") };
        QTest::newRow("permission grant") << "perm.exec.授权" << post("/permissions/exec/confirm")
                                          << QStringList { post("/permissions/exec/confirm") };
        QTest::newRow("permission grant on this machine, confirmed after the switch")
            << "perm.danger." + kGrant << "" << QStringList {};
        // The running task's card fetches its evidence and progress while the new workspace's list is on its way.
        QTest::newRow("evidence and progress") << ""
                                               << "GET /api/workspaces/ws-b/commands" << QStringList {};
        QTest::newRow("artifact") << "evidence.open." + kArtifact
                                  << "GET " + a + "/blobs/9f2c4e1a7b3d5f60812a4c6e8b0d2f4a" << QStringList {};
    }

    // A recovery still running when another workspace is picked reads none
    // of that one's lists: its last two steps are not ticked.
    void recoveryReadsOnlyItsWorkspace()
    {
        SimGateway& sim = *m_world->sim;
        MainWindow w(kQuiet, MainWindow::Sections::Now);
        QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 15000);
        sim.setFault("GET", "/api/workspaces/ws-a/commands", 503, {});
        m_world->tool.put(QStringLiteral("runtimes.delay_ms"), "1500");
        QSignalSpy recovered(w.controller(), &WindowController::recoveryFinished);
        w.recover();
        w.controller()->catalog()->setSelectedID("ws-b");
        QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 1, 20000);
        const QList<RecoveryRunner::Step> steps = w.controller()->recovery()->steps();
        QCOMPARE(steps.at(4).state, RecoveryRunner::State::NeedsYou);
        QCOMPARE(steps.at(5).state, RecoveryRunner::State::NeedsYou);
    }

    void listsTravelWithTheirWorkspace()
    {
        QFETCH(QString, press);
        QFETCH(QString, held);
        QFETCH(QStringList, sent);
        SimGateway& sim = *m_world->sim;
        MainWindow w(kQuiet, MainWindow::Sections::Now);
        QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
        w.resize(900, 900);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 15000);
        Status* status = w.controller()->status();
        QCOMPARE(status->config()->workspace, QStringLiteral("ws-a"));
        auto* section = w.findChild<PermSection*>();
        QVERIFY(section);
        section->refresh();
        QTRY_VERIFY(w.findChild<LiveTaskCard*>("liveboard.card.c-105"));
        if (press.startsWith("evidence.open."))
            QTRY_VERIFY_WITH_TIMEOUT(w.findChild<EvidenceArtifactRow*>(press), 15000);
        QTRY_VERIFY(status->autoFailed().contains("write"));
        section->refresh();

        if (!held.isEmpty())
            sim.setFault(held.section(' ', 0, 0).toUtf8(), held.section(' ', 1), 0, {}, 1500, 1);
        sim.clearRequests();

        // The press, before the switch.
        QWidget* target = nullptr;
        if (press.startsWith("approvals.")) {
            w.openApprovals();
            target = w.approvalsSheet()->findChild<QAbstractButton*>(press);
        } else if (press.startsWith("failedtasks.")) {
            w.openFailedTasks();
            target = w.failedTasksSheet()->findChild<QAbstractButton*>(press);
        } else if (press.startsWith("perm.")) {
            PermTierRow* row = section->permList()->row(press.section('.', 1, 1));
            target = row ? row->button(press.section('.', 2)) : nullptr;
        } else if (!press.isEmpty()) {
            target = w.findChild<QWidget*>(press);
        }
        QVERIFY2(press.isEmpty() || target, qPrintable(press));
        if (target)
            QTest::mouseClick(target, Qt::LeftButton);
        QVERIFY(held.isEmpty() == m_prompts->open());

        // The switch, while the request or the confirmation is pending.
        QSignalSpy switched(w.controller(), &WindowController::selectionReloadFinished);
        w.controller()->catalog()->setSelectedID("ws-b");
        QTRY_COMPARE_WITH_TIMEOUT(switched.size(), 1, 15000);
        if (m_prompts->open())
            m_prompts->answer(0);
        const auto posts = [&sim] {
            QStringList out;
            for (const QJsonValue& v : sim.requests())
                if (v["method"] == "POST")
                    out << "POST " + v["path"].toString();
            return out;
        };
        QTRY_COMPARE_WITH_TIMEOUT(posts(), sent, 15000);
        if (!held.isEmpty() && held.startsWith("GET /api/workspaces/ws-a"))
            QTRY_VERIFY_WITH_TIMEOUT(!matching(sim.requests(), "GET", held.section(' ', 1)).isEmpty(), 15000);
        QTest::qWait(500);

        // Each request carries its own workspace's token, and the running
        // task only A lists is never asked of B.
        const QRegularExpression under("^/api/workspaces/([^/]+)/");
        for (const QJsonValue& v : sim.requests()) {
            const QString path = v["path"].toString();
            const auto m = under.match(path);
            if (!m.hasMatch())
                continue;
            QCOMPARE(v["headers"]["authorization"].toString(), "Bearer tok-" + m.captured(1));
            QVERIFY2(!(m.captured(1) == "ws-b" && path.contains("c-105")), qPrintable(path));
        }
        QVERIFY(!m_world->tool.argvs().join('\n').contains("grant"));
        QCOMPARE(posts(), sent);

        // An action refused at its confirmation says so where the user looks,
        // and nothing of it shows on the workspace shown now.
        if (press.startsWith("failedtasks.delete")) {
            auto* box = w.failedTasksSheet()->findChild<QWidget*>("failedtasks.failures");
            QVERIFY(box && box->isVisible());
            QVERIFY(box->findChild<ActionFeedbackLine*>()->text().contains("什么都没有发给网关"));
            auto* row = w.failedTasksSheet()->findChild<QWidget*>("failedtasks.row.f3");
            QVERIFY(row && row->findChild<ActionFeedbackLine*>()->text().isEmpty());
        }
        if (press.startsWith("perm.")) {
            section->refresh();
            QTRY_VERIFY(section->permList()->row(press.section('.', 1, 1)));
            QCOMPARE(section->permList()->row(press.section('.', 1, 1))->feedback()->text(), QString());
        }
    }

private:
    std::unique_ptr<SimWorld> m_world;
    std::optional<WindowTestSetUp<HeldPrompts>> m_setUp;
    HeldPrompts* m_prompts = nullptr;
};

QTEST_MAIN(TestWorkspaceSwitch)
#include "tst_WorkspaceSwitch.moc"
