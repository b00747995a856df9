// The approvals and failed-tasks sheets over a small workspace; the task
// evidence view and the artifact sheet over the demo scenario; screenshots.
#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/platform/DisplayText.h"
#include "core/tasks/EvidenceClient.h"
#include "core/tasks/EvidenceSnapshotFile.h"
#include "core/tasks/EvidenceText.h"
#include "core/tasks/TaskEvidenceModel.h"
#include "gui/design/AimGuard.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/EmptyState.h"
#include "gui/design/LazyRows.h"
#include "gui/design/Marker.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SelectableText.h"
#include "gui/platform/Prompts.h"
#include "gui/tasks/ActionFeedbackLine.h"
#include "gui/tasks/ApprovalsSheet.h"
#include "gui/tasks/ArtifactText.h"
#include "gui/tasks/DeskArtifactSheet.h"
#include "gui/tasks/EvidenceArtifactRow.h"
#include "gui/tasks/EvidenceDiffBlock.h"
#include "gui/tasks/FailedTasksSheet.h"
#include "gui/tasks/FeedItemRow.h"
#include "gui/tasks/TaskEvidenceView.h"

#include "PressTwice.h"
#include "SimGateway.h"
#include "StallProbe.h"
#include "TempHome.h"

#include <QAccessible>
#include <QClipboard>
#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextBoundaryFinder>
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
        {"id":"f1","task_id":"c4","category":"approval","title":"上线","command":"上线新首页","status":"pending",
         "origin_device":"cli-studio.local"},
        {"id":"f2","task_id":"c6","category":"approval","title":"要不要清缓存","status":"pending"},
        {"id":"f3","task_id":"c2","category":"failed","title":"迁移失败","command":"迁移脚本",
         "origin_device":"cli-studio.local"},
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
private:
    std::unique_ptr<FeedItemSheet> sheet(const QString& which) { return sheet(which, m_cfg); }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<Status> m_status;
    CLIConfig m_cfg;
    ScriptedPrompts* m_prompts = nullptr;
    std::unique_ptr<QWidget> m_window;

    std::unique_ptr<FeedItemSheet> sheet(const QString& which, std::optional<CLIConfig> cfg)
    {
        std::unique_ptr<FeedItemSheet> s;
        if (which == QLatin1String("approvals"))
            s = std::make_unique<ApprovalsSheet>(m_status.get(), cfg);
        else
            s = std::make_unique<FailedTasksSheet>(m_status.get(), cfg);
        s->open();
        return s;
    }

    void waitFinished(QSignalSpy& spy, const QString& id)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!spy.isEmpty(), 15000);
        QCOMPARE(spy.takeFirst().first().toString(), id);
    }

    // An evidence view of command `id`, over the demo workspace (or `ws`) as this studio machine sees it.
    TaskEvidenceView* evidenceView(const QString& id, const QString& ws = QStringLiteral("ws-demo"))
    {
        m_cfg = m_sim->config(ws);
        m_cfg.device = "dev-studio";
        QCoro::waitFor(m_status->reload(m_cfg));
        m_sim->clearRequests();
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
        m_window->show();
        return v;
    }

    // Command c9, in the given status, with the change set `changes`, in its evidence view.
    TaskEvidenceView* evidenceOfC9(const QString& status, const QJsonObject& changes)
    {
        QJsonObject ws = workspaceState();
        QJsonArray commands = ws.value("commands").toArray();
        commands.append(QJsonObject { { "id", "c9" }, { "text", "改文件" }, { "status", status } });
        ws.insert("commands", commands);
        ws.insert("changes",
            QJsonObject { { "c9",
                QJsonObject { { "has_changes", true }, { "changes_state", status }, { "changes", changes } } } });
        m_sim->control("PUT", "/_sim/state/" + kWs, ws);
        return m_sim->lastStatus() == 200 ? evidenceView("c9", kWs) : nullptr;
    }

private slots:
    void init()
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

    void cleanup()
    {
        AimGuard::setClock({});
        m_window.reset();
        QTRY_VERIFY(EvidenceSnapshotFile::shared().idle());
        Prompts::setShared(nullptr);
        m_prompts = nullptr;
        m_status.reset();
        m_sim.reset();
        m_home.reset();
    }

    // A row names the item's command, else its title; only an approval says
    // where it came from. Opening a sheet loads nothing.
    void rows()
    {
        const QList<std::tuple<QString, QString, QString, QString>> rows {
            { "approvals", "f1", "上线新首页", "来自设备 cli-studio.local" },
            { "approvals", "f2", "要不要清缓存", "" },
            { "failedtasks", "f3", "迁移脚本", "" },
            { "failedtasks", "f4", "没编号的失败", "" },
        };
        auto approvals = sheet("approvals");
        auto failed = sheet("failedtasks");
        QCOMPARE(approvals->findChildren<FeedItemRow*>().size(), 2);
        QCOMPARE(failed->findChildren<FeedItemRow*>().size(), 3);
        for (const auto& [which, id, headline, origin] : rows) {
            auto* row = child<FeedItemRow>(which == "approvals" ? approvals.get() : failed.get(), which + ".row." + id);
            QVERIFY2(row && row->isVisible(), qPrintable(id));
            QCOMPARE(child<QLabel>(row, which + ".row." + id + ".text")->text(), headline);
            QCOMPARE(row->originLabel()->isVisible() ? row->originLabel()->text() : QString(), origin);
            // A screen reader announces the headline; the identifier stays the object's name.
            QCOMPARE(QAccessible::queryAccessibleInterface(row)->text(QAccessible::Name), headline);
        }
        QVERIFY(m_sim->requests().isEmpty());
    }

    void actions_data()
    {
        QTest::addColumn<QString>("button"); // <sheet>.<verb>.<item>
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("action"); // the body's action, for the feed's own verbs
        QTest::addColumn<int>("status"); // the gateway's answer; 0: accepted, and the item goes
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("feedback"); // kept on the row after the reload; "" when the row goes

        // Approve and reject address the feed item; retry and delete the task's command.
        QTest::newRow("reject") << "approvals.reject.f2" << kApi + "/feed/f2/act"
                                << "ignore" << 0 << QByteArray() << "";
        QTest::newRow("retry, still listed") << "failedtasks.retry.f3" << kApi + "/commands/c2/retry"
                                             << "" << 200 << QByteArray("{}") << "✅ 已放回队列";
        QTest::newRow("delete") << "failedtasks.delete.f5" << kApi + "/commands/c5/delete"
                                << "" << 0 << QByteArray() << "";
        QTest::newRow("advised code") << "approvals.approve.f1" << kApi + "/feed/f1/act"
                                      << "" << 409
                                      << QByteArray(R"({"error":"本机没声明","code":"grant_exceeds_source"})")
                                      << "❌ 本机没声明 这一档不能远程开——它要求本机先声明允许，而只有 `brenlow grant` "
                                         "会写那份声明。";
        // Unpaired, the sheet has no configuration: nothing is sent; the reload reads the pairing files.
        QTest::newRow("not paired") << "approvals.approve.f1"
                                    << ""
                                    << "" << 0 << QByteArray() << "❌ 这台电脑上还没有工作区";
    }

    void actions()
    {
        QFETCH(QString, button);
        QFETCH(QString, path);
        QFETCH(QString, action);
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(QString, feedback);
        const QString which = button.section('.', 0, 0);
        const QString item = button.section('.', 2);
        const bool paired = !path.isEmpty();

        m_prompts->alertAnswers = { 0 };
        // Hold the reply a little so that the busy state can be seen.
        if (paired)
            m_sim->setFault("POST", path, status, reply, 300, 1);
        else
            m_home->writeFile(".tolvarine/config.json", QJsonDocument(m_cfg.toJson()).toJson());
        auto s = sheet(which, paired ? std::optional<CLIConfig>(m_cfg) : std::nullopt);
        QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
        auto* row = child<FeedItemRow>(s.get(), which + ".row." + item);
        QTest::mouseClick(child<QAbstractButton>(s.get(), button), Qt::LeftButton);

        if (paired) {
            QTRY_VERIFY(s->actionState(item).isWorking());
            // Busy: the primary button shows it, the others take no presses.
            for (QAbstractButton* b : row->findChildren<QAbstractButton*>()) {
                if (auto* p = qobject_cast<PrimaryButton*>(b))
                    QVERIFY(p->isBusy());
                else
                    QVERIFY(!b->isEnabled());
            }
        }
        waitFinished(spy, item);
        const QJsonArray log = m_sim->requests();
        QCOMPARE(writes(log), paired ? QStringList { "POST " + path } : QStringList {});
        if (!action.isEmpty())
            QCOMPARE(QJsonDocument::fromJson(matching(log, "POST", path).first()["body"].toString().toUtf8())["action"],
                action);
        QCOMPARE(reloads(log), 1);
        if (feedback.isEmpty()) {
            // The gateway no longer reports the item: its row leaves the sheet, and its feedback with it.
            QTRY_VERIFY(!child<FeedItemRow>(s.get(), which + ".row." + item));
            QCOMPARE(s->actionState(item).kind(), PermActionState::Kind::Idle);
            return;
        }
        // Still listed: the same row keeps its feedback through the reload, and takes presses again.
        QCOMPARE(child<FeedItemRow>(s.get(), which + ".row." + item), row);
        QCOMPARE(row->feedback()->text(), feedback);
        for (QAbstractButton* b : row->findChildren<QAbstractButton*>())
            QVERIFY(b->isEnabled());
    }

    // An action goes with the configuration its item was loaded with, whatever
    // the window selects: the sheet may open on a selection the status model
    // has not reloaded yet, and the model may show another workspace's items
    // by the time a row is pressed. The follow-up reload is the model's own.
    void actionsGoWithTheListedItems_data()
    {
        QTest::addColumn<bool>("reloadOther"); // the model reloads the other workspace once the sheet is open
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("token");

        QTest::newRow("selection moved on, items still the old workspace's")
            << false << "approvals.approve.f1" << kApi + "/feed/f1/act"
            << "tok-t";
        QTest::newRow("other workspace reloaded under the open sheet") << true << "approvals.reject.g1"
                                                                       << "/api/workspaces/ws-u/feed/g1/act"
                                                                       << "tok-u";
    }

    void actionsGoWithTheListedItems()
    {
        QFETCH(bool, reloadOther);
        QFETCH(QString, button);
        QFETCH(QString, path);
        QFETCH(QString, token);

        QJsonObject other = workspaceState();
        other.insert("workspace", "ws-u");
        other.insert("token", "tok-u");
        other.insert("feed",
            QJsonDocument::fromJson(R"([{"id":"g1","task_id":"c4","category":"approval",
            "title":"别的工作区","status":"pending"}])")
                .array());
        m_sim->control("PUT", "/_sim/state/ws-u", other);
        QCOMPARE(m_sim->lastStatus(), 200);
        CLIConfig otherCfg = m_sim->config("ws-u");
        otherCfg.device = "dev-test";

        auto s = sheet("approvals", reloadOther ? m_cfg : otherCfg);
        if (reloadOther) {
            QCoro::waitFor(m_status->reload(otherCfg));
            QTRY_VERIFY(child<FeedItemRow>(s.get(), "approvals.row.g1"));
        }
        m_sim->clearRequests();
        QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
        QTest::mouseClick(child<QAbstractButton>(s.get(), button), Qt::LeftButton);
        waitFinished(spy, button.section('.', 2));
        const QJsonArray log = m_sim->requests();
        QCOMPARE(writes(log), QStringList { "POST " + path });
        QCOMPARE(matching(log, "POST", path).first()["headers"]["authorization"].toString(), "Bearer " + token);
    }

    // Deleting asks first; a cancelled or dismissed question sends nothing, and
    // an item without a task id sends nothing and says why. The confirmed delete
    // is one of the actions above.
    void deleteDeclinedOrImpossible()
    {
        auto s = sheet("failedtasks");
        QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
        for (int answer : { 1, -1 }) {
            m_prompts->alertAnswers = { answer };
            QTest::mouseClick(child<QAbstractButton>(s.get(), "failedtasks.delete.f3"), Qt::LeftButton);
        }
        QCOMPARE(m_prompts->alertsShown.size(), 2);
        QVERIFY(m_prompts->alertsShown.first().informative.startsWith(QStringLiteral("迁移脚本\n")));
        QTest::qWait(100);
        QCOMPARE(s->actionState("f3").kind(), PermActionState::Kind::Idle);
        QVERIFY(spy.isEmpty());

        m_prompts->alertAnswers = { 0 };
        m_prompts->alertsShown.clear();
        auto* f4 = child<FeedItemRow>(s.get(), "failedtasks.row.f4");
        for (const auto& [verb, word] : { std::pair { "retry", "重试" }, std::pair { "delete", "删除" } }) {
            QTest::mouseClick(
                child<QAbstractButton>(s.get(), QStringLiteral("failedtasks.%1.f4").arg(verb)), Qt::LeftButton);
            QTest::qWait(100);
            QCOMPARE(s->actionState("f4").kind(), PermActionState::Kind::Failed);
            QVERIFY(f4->feedback()->text().contains(QStringLiteral("没法") + word));
        }
        QVERIFY(m_prompts->alertsShown.isEmpty());
        QVERIFY(m_sim->requests().isEmpty());
    }

    // Two presses, the second once the first action's reload has taken its
    // row away and the next row has moved under the pointer. From a pointer
    // that stayed still 0.7 s after the first it acts on nothing (one double
    // click acts on one item, once); a press the user aimed acts: 1.0 s after
    // the first with the pointer moved onto the row that took the place, after
    // a wheel scroll brought another row under the pointer, or after a poll
    // that changed nothing under a pointer aimed again. With the pointer moved
    // but only 0.3 s (on the guard's clock) after the row slid into place, the
    // press is held and says so there; 0.5 s after, it acts.
    void doubleClickActsOnOneItem_data()
    {
        QTest::addColumn<QString>("button"); // <sheet>.<verb>.<item>
        QTest::addColumn<QString>("next"); // the item that moves up under the pointer
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("aim"); // how the second press is aimed: still, moved, wheel, poll

        const struct {
            const char* button;
            const char* next;
            QString path;
        } presses[] = {
            { "approvals.approve.f1", "f2", kApi + "/feed/f1/act" },
            { "approvals.reject.f1", "f2", kApi + "/feed/f1/act" },
            { "failedtasks.retry.f3", "f5", kApi + "/commands/c2/retry" },
            { "failedtasks.delete.f3", "f5", kApi + "/commands/c2/delete" },
        };
        for (const auto& p : presses) {
            for (const char* aim : { "still", "moved", "wheel", "poll", "moved 0.3 s", "moved 0.5 s" })
                QTest::addRow("%s, %s", p.button, aim) << p.button << p.next << p.path << aim;
        }
    }

    void doubleClickActsOnOneItem()
    {
        QFETCH(QString, button);
        QFETCH(QString, next);
        QFETCH(QString, path);
        QFETCH(QString, aim);
        const QString which = button.section('.', 0, 0);
        const QString verb = button.section('.', 1, 1);
        // Rows of one height, failed items with a task id one under the
        // other, and more of each than the list shows at once.
        QJsonObject state = workspaceState();
        QJsonArray feed;
        for (const QJsonValue& v : state["feed"].toArray()) {
            QJsonObject item = v.toObject();
            if (item["id"] == "f2")
                item.insert("origin_device", "cli-studio.local");
            if (item["id"] != "f4")
                feed.append(item);
        }
        for (int i = 1; i <= 6; ++i) {
            feed.append(QJsonObject { { "id", QStringLiteral("g%1").arg(i) },
                { "task_id", QStringLiteral("cg%1").arg(i) }, { "category", "approval" },
                { "title", QStringLiteral("审批 %1").arg(i) }, { "origin_device", "cli-studio.local" } });
            feed.append(
                QJsonObject { { "id", QStringLiteral("h%1").arg(i) }, { "task_id", QStringLiteral("ch%1").arg(i) },
                    { "category", "failed" }, { "title", QStringLiteral("失败 %1").arg(i) } });
        }
        m_sim->control("PATCH", "/_sim/state/" + kWs, QJsonObject { { "feed", feed } });
        QCoro::waitFor(m_status->reload(m_cfg));
        m_sim->clearRequests();
        m_prompts->alertAnswers = { 0, 0 }; // "删除" confirms

        // The guard's clock stands still from before the change until the second press.
        qint64 clock = 0;
        const bool timed = aim.startsWith(QLatin1String("moved "));
        if (timed)
            AimGuard::setClock([&clock] { return clock; });
        auto s = sheet(which);
        s->resize(s->sizeHint());
        QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
        auto* first = child<QAbstractButton>(s.get(), button);
        QVERIFY(first);
        const QPoint at = first->mapTo(s.get(), first->rect().center());
        // The next row's button comes where the first one was.
        const QString nextButton = QStringLiteral("%1.%2.%3").arg(which, verb, next);
        const auto slid = [&] {
            auto* moved = child<QAbstractButton>(s.get(), nextButton);
            return moved && moved->geometry().contains(moved->parentWidget()->mapFrom(s.get(), at));
        };
        // A hand that double-clicks moves a pixel or two: still all the same.
        std::function<QPoint(const QPoint&)> aimed = [](const QPoint& p) { return p + QPoint(2, 1); };
        if (aim == QLatin1String("moved")) {
            aimed = [&](const QPoint& p) { return moveAwayAndBack(s.get(), p); };
        } else if (timed) {
            aimed = [&](const QPoint& p) {
                clock = aim.endsWith(QLatin1String("0.3 s")) ? 300 : 500;
                return moveAwayAndBack(s.get(), p);
            };
        } else if (aim == QLatin1String("wheel")) {
            aimed = [&](const QPoint& p) { return wheelUntilAnotherButton(s.get(), p, buttonAt(s.get(), p)); };
        } else if (aim == QLatin1String("poll")) {
            aimed = [&](const QPoint& p) {
                const QPoint back = moveAwayAndBack(s.get(), p);
                QCoro::waitFor(m_status->reload(m_cfg));
                return back;
            };
        }
        QString second;
        pressTwice(s.get(), first, slid, aimed, aim == QLatin1String("still") ? 700 : 1000, &second);
        waitFinished(spy, button.section('.', 2));
        if (aim == QLatin1String("still") || aim == QLatin1String("moved 0.3 s")) {
            QTest::qWait(300);
            QCOMPARE(writes(m_sim->requests()), QStringList { "POST " + path });
            QCOMPARE(s->actionState(next).kind(), PermActionState::Kind::Idle);
            // Said where it was pressed, to a screen reader too.
            auto* note = child<QLabel>(s.get(), "aim.held");
            auto* pressed = child<QAbstractButton>(s.get(), second);
            QVERIFY(note && note->isVisible() && pressed);
            QCOMPARE(note->text(), AimGuard::heldText());
            QCOMPARE(note->accessibleName(), AimGuard::heldText());
            QAccessibleInterface* said = QAccessible::queryAccessibleInterface(note);
            QVERIFY(said && said->role() == QAccessible::AlertMessage);
            QCOMPARE(said->text(QAccessible::Name), AimGuard::heldText());
            const QRect control(pressed->mapTo(s.get(), QPoint(0, 0)), pressed->size());
            QVERIFY(qAbs(note->geometry().center().y() - control.center().y()) < control.height() + note->height());
            if (button == QLatin1String("approvals.approve.f1") && timed)
                saveShot(s.get(), QStringLiteral("approvals-held-press.png"));
            return;
        }
        // The second press reached the button under the pointer, of another item.
        const QString secondItem = second.section('.', 2);
        QCOMPARE(second.section('.', 0, 1), which + '.' + verb);
        QVERIFY(secondItem != button.section('.', 2));
        if (aim != QLatin1String("wheel"))
            QCOMPARE(secondItem, next);
        waitFinished(spy, secondItem);
        const QStringList sent = writes(m_sim->requests());
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.first(), "POST " + path);
    }

    // A reply that does not come in time: the gateway may have acted, so the
    // row says the outcome is not known and the list is read again. A list
    // that cannot be read is said to be so, and the row acted on stays held.
    void slowReplies_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("route"); // answers after the limit
        QTest::addColumn<QString>("feedback"); // once the action has ended; "" the row is still held

        QTest::newRow("retry answered late") << "failedtasks.retry.f3"
                                             << "POST " + kApi + "/commands/c2/retry"
                                             << "网关 4 秒内没有回复，不知道办成了没有；列表已经重新读过，以列表为准。";
        QTest::newRow("list read late") << "approvals.approve.f1"
                                        << "GET " + kApi + "/feed"
                                        << "";
    }

    void slowReplies()
    {
        QFETCH(QString, button);
        QFETCH(QString, route);
        QFETCH(QString, feedback);
        const QString which = button.section('.', 0, 0);
        const QString item = button.section('.', 2);
        const bool post = route.startsWith("POST");
        m_sim->setFault(
            route.section(' ', 0, 0).toUtf8(), route.section(' ', 1), post ? 200 : 0, post ? "{}" : "", 5000, 1);
        auto s = sheet(which);
        QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
        auto* row = child<FeedItemRow>(s.get(), which + ".row." + item);
        QTest::mouseClick(child<QAbstractButton>(s.get(), button), Qt::LeftButton);
        auto* unreadable = child<QLabel>(s.get(), which + ".unreadable");
        if (post) {
            waitFinished(spy, item);
            QCOMPARE(row->feedback()->text(), feedback);
            QCOMPARE(reloads(m_sim->requests()), 1);
            QVERIFY(!unreadable->isVisible());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(unreadable->isVisible(), 15000);
        QCOMPARE(unreadable->text(), QStringLiteral("现在读不到这份列表（网关 4 秒内没有回复），下面是上次读到的。"));
        QVERIFY(qobject_cast<PrimaryButton*>(child<QAbstractButton>(s.get(), button))->isBusy());
        QVERIFY(spy.isEmpty());
        // Read again: the item has gone, and the sheet no longer says it cannot read.
        QCoro::waitFor(m_status->reload(m_cfg));
        waitFinished(spy, item);
        QTRY_VERIFY(!child<FeedItemRow>(s.get(), which + ".row." + item));
        QVERIFY(!unreadable->isVisible());
        QCOMPARE(writes(m_sim->requests()), QStringList { "POST " + kApi + "/feed/f1/act" });
    }

    // The gateway refuses an approval the phone had already decided, and the
    // reload drops the item: its failure stays on the sheet, above the list.
    void failureOfAnItemThatLeftStaysShown()
    {
        m_sim->setFault("POST", kApi + "/feed/f1/act", 409, R"({"error":"这条已经处理过了","code":"already_decided"})");
        QJsonArray feed = workspaceState()["feed"].toArray();
        QJsonObject decided = feed[0].toObject();
        decided.insert("status", "approved");
        feed[0] = decided;
        m_sim->control("PATCH", "/_sim/state/" + kWs, QJsonObject { { "feed", feed } });

        auto s = sheet("approvals");
        QSignalSpy spy(s.get(), &FeedItemSheet::actionFinished);
        QTest::mouseClick(child<QAbstractButton>(s.get(), "approvals.approve.f1"), Qt::LeftButton);
        waitFinished(spy, "f1");
        QVERIFY(!child<FeedItemRow>(s.get(), "approvals.row.f1"));
        const auto failures = [&s] {
            QStringList out;
            if (auto* box = child<QWidget>(s.get(), "approvals.failures"); box && box->isVisible())
                for (auto* line : box->findChildren<ActionFeedbackLine*>())
                    out << line->text();
            return out;
        };
        const QStringList expected { QStringLiteral("❌ 上线新首页：这条已经处理过了") };
        QCOMPARE(failures(), expected);
        // Later reloads do not take it away; the other item acts as before.
        QCoro::waitFor(m_status->reload(m_cfg));
        QCOMPARE(failures(), expected);
        QVERIFY(child<FeedItemRow>(s.get(), "approvals.row.f2"));
    }

    // A thousand approvals: the rows in view are made, the others as scrolling
    // or the keyboard reaches them, and a poll that changes one item fills in
    // that one row only.
    void thousandItems()
    {
        const auto feedOf = [](const QString& changedTitle) {
            QJsonArray feed;
            for (int i = 0; i < 1000; ++i)
                feed.append(QJsonObject { { "id", QStringLiteral("m%1").arg(i) }, { "task_id", "c4" },
                    { "category", "approval" }, { "status", "pending" }, { "origin_device", "cli-studio.local" },
                    { "title", i == 1 ? changedTitle : QStringLiteral("第 %1 条：上线新首页").arg(i) } });
            return QJsonObject { { "feed", feed } };
        };
        m_sim->control("PATCH", "/_sim/state/" + kWs, feedOf(QStringLiteral("第 1 条：上线新首页")));
        QCoro::waitFor(m_status->reload(m_cfg));
        auto s = sheet("approvals");
        QVERIFY(QTest::qWaitForWindowExposed(s.get()));
        saveShot(s.get(), "sheet-approvals-1000.png");
        LazyRows* rows = s->rows();
        QCOMPARE(rows->keys().size(), 1000);
        const QString made = QStringLiteral("%1 rows made, the sheet %2 high").arg(rows->madeCount()).arg(s->height());
        QVERIFY2(rows->madeCount() < 30 && s->height() <= 600, qPrintable(made));
        QVERIFY(s->findChild<QScrollArea*>()->verticalScrollBar()->isVisible());

        QSignalSpy filled(rows, &LazyRows::filledIn);
        m_sim->control("PATCH", "/_sim/state/" + kWs, feedOf(QStringLiteral("第 1 条：改过了")));
        QCoro::waitFor(m_status->reload(m_cfg));
        QCOMPARE(child<QLabel>(s.get(), "approvals.row.m1.text")->text(), QStringLiteral("第 1 条：改过了"));
        QCOMPARE(filled.size(), 1);
        QCOMPARE(FeedActions::itemOf(filled.first().first().toString()), QStringLiteral("m1"));

        // Tab from the last row made in view goes on to the next item.
        int last = 0;
        while (rows->row(rows->keys().at(last + 1)))
            ++last;
        s->activateWindow();
        QTRY_VERIFY(s->isActiveWindow());
        child<QWidget>(s.get(), QStringLiteral("approvals.reject.m%1").arg(last))->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("approvals.approve.m%1").arg(last + 1));

        QScrollBar* bar = s->findChild<QScrollArea*>()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QTRY_VERIFY(child<FeedItemRow>(s.get(), "approvals.row.m996"));
        QVERIFY2(rows->madeCount() < 60, qPrintable(QString::number(rows->madeCount())));

        // Assistive technology sees every item, each made as it is asked for.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(rows);
        QCOMPARE(list->childCount(), 1000);
        QAccessibleInterface* middle = list->child(500);
        QCOMPARE(middle->object()->objectName(), QStringLiteral("approvals.row.m500"));
        QCOMPARE(list->indexOfChild(middle), 500);

        // A row acted on stays made while its action runs; let go after, it
        // is made again with its feedback.
        m_sim->setFault("POST", kApi + "/feed/m3/act", 409, R"({"error":"这条已经处理过了"})", 1000, 1);
        QSignalSpy finished(s.get(), &FeedItemSheet::actionFinished);
        bar->setValue(0);
        QTest::mouseClick(child<QAbstractButton>(s.get(), "approvals.approve.m3"), Qt::LeftButton);
        bar->setValue(bar->maximum());
        QVERIFY(child<FeedItemRow>(s.get(), "approvals.row.m3"));
        waitFinished(finished, "m3");
        const QString feedback = child<FeedItemRow>(s.get(), "approvals.row.m3")->feedback()->text();
        QVERIFY(feedback.startsWith(QStringLiteral("❌")));
        child<QWidget>(s.get(), "approvals.close")->setFocus(Qt::TabFocusReason);
        for (int part = 4; part > 1; --part)
            bar->setValue(bar->maximum() / part);
        QTRY_VERIFY(!child<FeedItemRow>(s.get(), "approvals.row.m3"));
        bar->setValue(0);
        QTRY_VERIFY(child<FeedItemRow>(s.get(), "approvals.row.m3"));
        QCOMPARE(child<FeedItemRow>(s.get(), "approvals.row.m3")->feedback()->text(), feedback);

        // Approved by the keyboard, a row leaves; the focus waits on the list and Tab goes on from there.
        auto* approve = child<QAbstractButton>(s.get(), "approvals.approve.m500");
        if (!approve) {
            list->child(500);
            approve = child<QAbstractButton>(s.get(), "approvals.approve.m500");
        }
        approve->setFocus(Qt::TabFocusReason);
        s->findChild<QScrollArea*>()->ensureWidgetVisible(approve);
        const int value = bar->value();
        QTest::keyClick(approve, Qt::Key_Space);
        waitFinished(finished, "m500");
        QTRY_VERIFY(!child<FeedItemRow>(s.get(), "approvals.row.m500"));
        QVERIFY(rows->hasFocus());
        saveShot(s.get(), "sheet-approvals-focus-parked.png");
        QTest::keyClick(rows, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("approvals.approve.m501"));
        QVERIFY(bar->value() >= value);
        // Home and End reach the first and the last item.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("approvals.approve.m999"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("approvals.approve.m0"));
        QTRY_COMPARE(bar->value(), 0);
    }

    // A text without a place to break (a path, an error code) wraps inside
    // itself: no row is wider than the sheet, and a long headline shows whole.
    // A sheet whose last item then leaves shrinks to what it shows.
    void longUnbrokenTexts()
    {
        const QString path = QStringLiteral("/srv/") + QStringLiteral("build_cache_%_shard").repeated(40);
        const QJsonObject item { { "id", "long" }, { "task_id", "c4" }, { "status", "pending" },
            { "title", "重新部署 " + path }, { "subtitle", "Error: ECONNREFUSED " + QString("7f3a9c").repeated(60) },
            { "origin_device", QString(300, QLatin1Char('d')) } };
        for (const QString which : { "approvals", "failedtasks" }) {
            QJsonObject one = item;
            one.insert("category", which == "approvals" ? "approval" : "failed");
            m_sim->control("PATCH", "/_sim/state/" + kWs, QJsonObject { { "feed", QJsonArray { one } } });
            QCoro::waitFor(m_status->reload(m_cfg));
            auto s = sheet(which);
            QVERIFY(QTest::qWaitForWindowExposed(s.get()));
            auto* headline = child<QLabel>(s.get(), which + ".row.long.text");
            const int room = s->findChild<QScrollArea*>()->viewport()->width();
            QTRY_VERIFY2(headline->parentWidget()->width() <= room, qPrintable(QString::number(room)));
            QVERIFY(headline->height() >= headline->heightForWidth(headline->width()));
            saveShot(s.get(), QStringLiteral("sheet-%1-long.png").arg(which));

            m_sim->control("PATCH", "/_sim/state/" + kWs, QJsonObject { { "feed", QJsonArray() } });
            QCoro::waitFor(m_status->reload(m_cfg));
            auto* empty = child<EmptyState>(s.get(), which + ".empty");
            const int gap
                = child<QWidget>(s.get(), which + ".close")->mapTo(s.get(), QPoint()).y() - empty->geometry().bottom();
            QVERIFY2(empty->isVisible() && gap <= 16, qPrintable(QString::number(gap)));
        }
    }

    // Closing a sheet does not end its action; the sheet opened again shows
    // the row held while it runs, and no outcome of it, now or after.
    void closedWhileRunning_data()
    {
        QTest::addColumn<int>("status"); // the gateway's answer to the approval
        QTest::newRow("approved") << 0;
        QTest::newRow("refused") << 409;
    }

    void closedWhileRunning()
    {
        QFETCH(int, status);
        m_sim->setFault("POST", kApi + "/feed/f1/act", status,
            status ? QByteArray(R"({"error":"这条已经处理过了","code":"already_decided"})") : QByteArray(), 400, 1);
        auto s = sheet("approvals");
        QTest::mouseClick(child<QAbstractButton>(s.get(), "approvals.approve.f1"), Qt::LeftButton);
        s->reject();
        s.reset();
        auto again = sheet("approvals");
        QSignalSpy spy(again.get(), &FeedItemSheet::actionFinished);
        auto* row = child<FeedItemRow>(again.get(), "approvals.row.f1");
        QVERIFY(row);
        QVERIFY(qobject_cast<PrimaryButton*>(child<QAbstractButton>(again.get(), "approvals.approve.f1"))->isBusy());
        QVERIFY(!child<QAbstractButton>(again.get(), "approvals.reject.f1")->isEnabled());
        QCOMPARE(row->feedback()->text(), QString());
        // The request and its reload still run to their end.
        waitFinished(spy, "f1");
        QTRY_VERIFY_WITH_TIMEOUT(reloads(m_sim->requests()) == 1, 15000);
        QTRY_VERIFY(m_status->pendingApprovalItems().size() == (status ? 2 : 1));
        QCOMPARE(writes(m_sim->requests()), QStringList { "POST " + kApi + "/feed/f1/act" });
        QCOMPARE(again->actionState("f1").kind(), PermActionState::Kind::Idle);
        if (status) {
            QCOMPARE(child<FeedItemRow>(again.get(), "approvals.row.f1"), row);
            QCOMPARE(row->feedback()->text(), QString());
            QVERIFY(child<QAbstractButton>(again.get(), "approvals.reject.f1")->isEnabled());
            QVERIFY(!child<QWidget>(again.get(), "approvals.failures")->isVisible());
        }
    }

    void screenshots()
    {
        // The demo scenario, with each kind of feedback on screen.
        SimGateway& demo = *m_sim;
        const CLIConfig cfg = demo.config();
        Status status;
        QCoro::waitFor(status.reload(cfg));
        const QString& api = kDemoApi;
        demo.setFault("POST", api + "/feed/f-201/act", 0, {}, 1500, 1);
        demo.setFault(
            "POST", api + "/feed/f-202/act", 409, R"({"error":"这条已经在手机上处理过了","code":"already_decided"})");
        // Accepted but still listed, so the success line shows.
        demo.setFault("POST", api + "/commands/c-103/retry", 200, "{}");
        demo.setFault("POST", api + "/commands/c-112/retry", 409,
            R"({"error":"执行体不在线，没人能接这条任务","code":"no_runner"})");

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
    }

    void evidenceOfAFinishedCommand()
    {
        TaskEvidenceView* v = evidenceView("c-101");
        QTRY_COMPARE(child<Marker>(v, "evidence.state.c-101")->label(), QStringLiteral("artifacts"));

        // Opening a row shows its file in the sheet; closing it clears the opening.
        QTest::mouseClick(child<QAbstractButton>(v, "evidence.open.src/orders/OrderList.php"), Qt::LeftButton);
        QCOMPARE(v->opening()->file().path, QStringLiteral("src/orders/OrderList.php"));
        QTRY_VERIFY(v->opening()->text().has_value());
        saveShot(v->opening(), "artifact-sheet.png");
        QTest::mouseClick(child<QAbstractButton>(v->opening(), "deskartifact.close"), Qt::LeftButton);
        QTRY_VERIFY(!v->opening());

        // With the diff and the details open.
        child<EvidenceDiffBlock>(v, "evidence.diff.c-101")->setExpanded(true);
        QTest::mouseClick(child<QAbstractButton>(v, "evidence.diagnostics.toggle.c-101"), Qt::LeftButton);
        QVERIFY(child<QWidget>(v, "evidence.diagnostics.c-101")->isVisible());
        saveShot(m_window.get(), "evidence-finished.png");

        // A finished command is fetched once.
        QCOMPARE(int(matching(m_sim->requests(), "GET", kDemoApi + "/commands/c-101/changes").size()), 1);
    }

    void evidenceOfARunningCommandOnlyWhileShown()
    {
        TaskEvidenceView* v = evidenceView("c-105");
        QTRY_COMPARE(v->model()->polls(), 1);
        QVERIFY(child<QWidget>(v, "evidence.progress.c-105")->isVisible());

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

    // A path or a sequence number the gateway repeats is shown each time, and
    // every row keeps its widget from one poll to the next.
    void evidenceRepeats()
    {
        QJsonObject ws = workspaceState();
        QJsonArray commands = ws.value("commands").toArray();
        commands.append(QJsonObject { { "id", "c9" }, { "text", "改两遍" }, { "status", "claimed" } });
        ws.insert("commands", commands);
        ws.insert("changes",
            QJsonDocument::fromJson(R"({"c9":{"has_changes":true,"changes_state":"live","changes":{
            "files":[{"path":"src/a.php","added":1,"hunk":"@@ first","hash":"h1","size":10},
                     {"path":"src/a.php","added":2,"hunk":"@@ second","hash":"h2","size":20},
                     {"path":"b.txt","hash":"h3","size":5}]}}})")
                .object());
        ws.insert("progress",
            QJsonDocument::fromJson(R"({"c9":[{"seq":1,"action":"读 a"},{"seq":2,"action":"改 a"},
            {"seq":2,"action":"再改 a"},{"seq":3,"action":"跑测试"}]})")
                .object());
        m_sim->control("PUT", "/_sim/state/" + kWs, ws);
        QCOMPARE(m_sim->lastStatus(), 200);
        TaskEvidenceView* v = evidenceView("c9", kWs);
        QTRY_COMPARE(v->model()->polls(), 1);

        const auto shown = [&] {
            QStringList texts;
            QList<QWidget*> widgets;
            for (auto* row : v->findChildren<EvidenceArtifactRow*>()) {
                if (row->isVisible()) {
                    texts.append(row->file().hash);
                    widgets.append(row);
                }
            }
            for (auto* line : child<QWidget>(v, "evidence.progress.c9")->findChildren<ElidedLabel*>()) {
                if (line->isVisible()) {
                    texts.append(line->text());
                    widgets.append(line);
                }
            }
            for (auto* hunk : child<QWidget>(v, "evidence.diff.c9")->findChildren<SelectableText*>()) {
                if (hunk->isVisible()) {
                    texts.append(hunk->text());
                    widgets.append(hunk);
                }
            }
            return std::make_pair(texts, widgets);
        };
        const auto first = shown();
        const QStringList expected { "h1", "h2", "h3", "改 a", "再改 a", "跑测试", "@@ first", "@@ second" };
        QCOMPARE(first.first, expected);
        QTRY_COMPARE(v->model()->polls(), 2);
        const auto next = shown();
        QCOMPARE(next.first, expected);
        QVERIFY(next.second == first.second);
    }

    // However many files a task changed, the view lays out a bounded number of
    // them and says how many more there are.
    void evidenceOfManyFiles()
    {
        const int count = 2000;
        QJsonArray files;
        for (int i = 0; i < count; ++i) {
            const QString n = QString::number(i);
            files.append(QJsonObject { { "path", "gen/f" + n + ".txt" }, { "added", 1 }, { "hunk", "@@ +" + n },
                { "hash", "h" + n }, { "size", 3 } });
        }
        TaskEvidenceView* v
            = evidenceOfC9(QStringLiteral("done"), QJsonObject { { "files", files }, { "added", count } });
        QVERIFY(v);
        QTRY_COMPARE(v->model()->polls(), 1);
        QCOMPARE(v->model()->state().viewable.size(), count);

        const QString more = QStringLiteral("还有 %1 个文件没有列出").arg(count - EvidenceText::kShownFiles);
        QCOMPARE(int(v->findChildren<EvidenceArtifactRow*>().size()), int(EvidenceText::kShownFiles));
        QCOMPARE(v->findChild<EvidenceArtifactRow*>("evidence.open.gen/f0.txt")->isVisible(), true);
        QCOMPARE(child<QLabel>(v, "evidence.more.c9")->text(), more);
        QVERIFY(child<QLabel>(v, "evidence.more.c9")->isVisible());
        auto* diff = child<EvidenceDiffBlock>(v, "evidence.diff.c9");
        diff->setExpanded(true);
        QCOMPARE(int(diff->findChildren<SelectableText*>().size()), 3 + int(EvidenceText::kShownFiles));
        QCOMPARE(child<QLabel>(diff, "evidence.diff.more.c9")->text(), more);
    }

    // A diff is shown whole, without a cut, up to thousands of lines for the
    // task; past them, a line says how many are not shown. The view lays it
    // out without holding up the window.
    void evidenceOfALongDiff()
    {
        const auto lines = [](const QString& prefix, int count) {
            QStringList out;
            for (int i = 0; i < count; ++i)
                out.append(prefix + QString::number(i) + QStringLiteral(" = load_configuration(path, options);"));
            return out.join(QLatin1Char('\n'));
        };
        const QString shortDiff = lines(QStringLiteral("+a"), 200);
        const QString longDiff = lines(QStringLiteral("+b"), 5000);
        TaskEvidenceView* v = evidenceOfC9(QStringLiteral("claimed"),
            QJsonObject { { "files",
                QJsonArray { QJsonObject { { "path", "a.py" }, { "hunk", shortDiff }, { "hash", "h1" } },
                    QJsonObject { { "path", "b.py" }, { "hunk", longDiff }, { "hash", "h2" } } } } });
        QVERIFY(v);
        StallProbe::shared().reset();
        QTRY_COMPARE(v->model()->polls(), 1);
        QVERIFY(v->showDiff());
        QStringList hunks;
        for (auto* hunk : child<QWidget>(v, "evidence.diff.c9")->findChildren<SelectableText*>())
            if (hunk->isVisible())
                hunks.append(hunk->text());
        QCOMPARE(hunks.size(), 2);
        QCOMPARE(hunks.at(0), shortDiff);
        const DisplayText::DiffBudget budget;
        const qsizetype shown = budget.lines - 200;
        QCOMPARE(hunks.at(1),
            longDiff.section(QLatin1Char('\n'), 0, int(shown) - 1)
                + QStringLiteral("\n还有 %1 行没有显示").arg(5000 - shown));
        QTest::qWait(200);
        StallProbe::shared().verifyNoStall();
    }

    // A long text fills the view in slices: its beginning at once, the rest in
    // order over the next turns, no block longer than a layout should
    // measure, each cut between two characters (a letter keeps its marks, a
    // flag its two letters) and where a line may wrap when the line has such
    // places; a copy gives the text as it is, without the cuts.
    void artifactInSlices_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("wraps"); // the long lines have places where a line may wrap
        QString oneLine;
        for (int i = 0; oneLine.size() < 3'000'000; ++i)
            oneLine += QStringLiteral("{\"id\":%1,\"ok\":true},").arg(i);
        QTest::newRow("one line") << oneLine << true;
        QString lines;
        for (int i = 0; i < 120'000; ++i)
            lines += QStringLiteral("第 %1 行\r\n").arg(i) + (i % 1000 ? QString() : QString(9000, QLatin1Char('x')));
        QTest::newRow("short lines, CR LF, some long") << lines << false;
        QTest::newRow("pairs without a break")
            << QStringLiteral("a") + QString::fromUtf8("𝐀").repeated(300'000) << false;
        QTest::newRow("letters with marks")
            << QStringLiteral("a") + QString::fromUtf8("e\u0301\u0323").repeated(30'000) << false;
        QTest::newRow("flags after two letters")
            << QStringLiteral("ab") + QString::fromUtf8("🇨🇳🇯🇵").repeated(10'000) << true;
        QTest::newRow("words of marked letters")
            << QString::fromUtf8("ne\u0301e\u0301 a\u0308b ").repeated(6'000) + QString::fromUtf8("🇫🇷").repeated(3'001)
            << true;
    }

    void artifactInSlices()
    {
        QFETCH(QString, text);
        QFETCH(bool, wraps);
        ArtifactText view;
        view.resize(720, 470);
        view.show();
        QSignalSpy filled(&view, &ArtifactText::filled);
        view.showText(text);
        const QString first = view.document()->firstBlock().text();
        QVERIFY(!first.isEmpty() && text.startsWith(first));
        QVERIFY(view.filling());
        QTRY_COMPARE_WITH_TIMEOUT(filled.size(), 1, 120000);
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
        QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
        qsizetype offset = 0;
        for (QTextBlock b = view.document()->firstBlock(); b.isValid(); b = b.next()) {
            QVERIFY(b.text().size() <= ArtifactText::kBlockLength);
            offset += b.text().size();
            if (text.mid(offset, 2) == QLatin1String("\r\n"))
                offset += 2;
            else if (offset < text.size() && (text[offset] == QLatin1Char('\n') || text[offset] == QLatin1Char('\r')))
                ++offset;
            else if (offset < text.size()) {
                characters.setPosition(int(offset));
                breaks.setPosition(int(offset));
                QVERIFY2(characters.isAtBoundary(), qPrintable(QString::number(offset)));
                QVERIFY2(!wraps || breaks.isAtBoundary(), qPrintable(QString::number(offset)));
            }
        }
        view.selectAll();
        view.copy();
        QVERIFY(QGuiApplication::clipboard()->text() == text);
        // From block 3 to the first character of block 4, block 3 found in the text by copying all before it.
        const QTextBlock third = view.document()->findBlockByNumber(3);
        QTextCursor cursor(view.document());
        cursor.setPosition(third.position(), QTextCursor::KeepAnchor);
        view.setTextCursor(cursor);
        view.copy();
        const qsizetype at = QGuiApplication::clipboard()->text().size();
        cursor.setPosition(third.position());
        cursor.setPosition(third.position() + third.length() + 1, QTextCursor::KeepAnchor);
        view.setTextCursor(cursor);
        view.copy();
        const qsizetype end = at + third.text().size();
        const qsizetype lineEnd = text.mid(end, 2) == QLatin1String("\r\n")    ? 2
            : text[end] == QLatin1Char('\n') || text[end] == QLatin1Char('\r') ? 1
                                                                               : 0;
        QCOMPARE(QGuiApplication::clipboard()->text(), text.mid(at, third.text().size() + lineEnd + 1));
    }

    // A blob the gateway could not serve: the only failure that offers a retry.
    void artifactRetry()
    {
        m_cfg = m_sim->config();
        QCoro::waitFor(m_status->reload(m_cfg));
        EvidenceClient evidence;
        const QList<DeskFileChange> files
            = QCoro::waitFor(evidence.evidenceSnapshot("c-105", m_cfg)).state.changes.files;
        const auto it = std::find_if(files.begin(), files.end(),
            [&](const DeskFileChange& f) { return f.path == "src/checkout/CouponStack.php"; });
        QVERIFY(it != files.end());
        const QString blob = kDemoApi + "/blobs/" + it->hash;
        m_sim->setFault("GET", blob, 503, R"({"error":"存储暂时不可用"})", 0, 1);

        DeskArtifactSheet sheet(*it, m_cfg, &evidence, "重写购物车结算接口");
        QSignalSpy loaded(&sheet, &DeskArtifactSheet::loadFinished);
        sheet.open();
        QTRY_COMPARE(loaded.size(), 1);
        QTest::mouseClick(child<SecondaryButton>(&sheet, "deskartifact.retry"), Qt::LeftButton);
        QTRY_COMPARE(loaded.size(), 2);
        QVERIFY(child<QPlainTextEdit>(&sheet, "deskartifact.body")->toPlainText().contains("final class CouponStack"));
        QCOMPARE(matching(m_sim->requests(), "GET", blob).size(), 2);
    }
};

QTEST_MAIN(TestFeedSheets)
#include "tst_FeedSheets.moc"
