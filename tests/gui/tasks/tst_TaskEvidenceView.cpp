// The task evidence view over the demo scenario: the blocks a finished and a
// running command show, the loop that runs only while the view is shown, the
// artifact sheet's outcomes, and screenshots of both.
#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/tasks/EvidenceSnapshotFile.h"
#include "core/tasks/TaskEvidenceModel.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/Marker.h"
#include "gui/design/SecondaryButton.h"
#include "gui/tasks/DeskArtifactSheet.h"
#include "gui/tasks/EvidenceDiffBlock.h"
#include "gui/tasks/TaskEvidenceView.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QtTest>

#include <QCoroTask>

namespace {

const QString kApi = QStringLiteral("/api/workspaces/ws-demo");

template <typename W> W* child(QWidget* root, const QString& name)
{
    return root->findChild<W*>(name);
}

// A widget is on screen: itself and every parent up to the window visible.
bool shows(QWidget* w)
{
    return w && w->isVisible();
}

void saveShot(QWidget* w, const QString& name)
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QTest::qWait(50);
    QVERIFY(w->grab().save(QDir(dir).filePath(name)));
}

} // namespace

class TestTaskEvidenceView : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void finishedCommandWithScreenshots();
    void runningCommandOnlyWhileShown();
    void artifactSheet_data();
    void artifactSheet();

private:
    CommandBrief command(const QString& id) const;
    // A view in a window of the product's background.
    TaskEvidenceView* view(const QString& id, bool show = true);

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<Status> m_status;
    std::unique_ptr<QWidget> m_window;
    CLIConfig m_cfg;
};

void TestTaskEvidenceView::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_cfg = m_sim->config();
    m_cfg.device = QStringLiteral("dev-studio");
    m_status = std::make_unique<Status>();
    QCoro::waitFor(m_status->reload(m_cfg));
    QVERIFY(!m_status->commands().isEmpty());
    m_sim->clearRequests();
}

void TestTaskEvidenceView::cleanup()
{
    m_window.reset();
    QTRY_VERIFY(EvidenceSnapshotFile::shared().idle());
    m_status.reset();
    m_sim.reset();
    m_home.reset();
}

CommandBrief TestTaskEvidenceView::command(const QString& id) const
{
    for (const CommandBrief& c : m_status->commands())
        if (c.id == id)
            return c;
    return {};
}

TaskEvidenceView* TestTaskEvidenceView::view(const QString& id, bool show)
{
    m_window = std::make_unique<QWidget>();
    m_window->setAutoFillBackground(true);
    QPalette p = m_window->palette();
    p.setColor(QPalette::Window, DS::bg());
    p.setColor(QPalette::WindowText, DS::ink());
    m_window->setPalette(p);
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(16, 16, 16, 16);
    auto* v = new TaskEvidenceView(command(id), m_cfg, m_status.get(), m_window.get());
    layout->addWidget(v);
    layout->addStretch(1);
    m_window->resize(640, 560);
    if (show)
        m_window->show();
    return v;
}

void TestTaskEvidenceView::finishedCommandWithScreenshots()
{
    // Before the first fetch (and before it is shown): reading.
    TaskEvidenceView* v = view(QStringLiteral("c-101"), false);
    auto* marker = child<Marker>(v, "evidence.state.c-101");
    QCOMPARE(marker->label(), QStringLiteral("loading"));
    QCOMPARE(child<QLabel>(v, "evidence.headline.c-101")->text(), QStringLiteral("正在读…"));
    m_window->show();

    // A replay: no poll counter and no progress (the screenshot shows the rest).
    QTRY_COMPARE(marker->label(), QStringLiteral("artifacts"));
    QVERIFY(!shows(child<QWidget>(v, "evidence.polls.c-101")));
    QVERIFY(!shows(child<QWidget>(v, "evidence.progress.c-101")));
    QCOMPARE(child<QLabel>(v, "evidence.headline.c-101")->text(), QStringLiteral("产物 2 份"));
    auto* diff = child<EvidenceDiffBlock>(v, "evidence.diff.c-101");
    QVERIFY(shows(diff) && !diff->isExpanded());

    // Opening a row shows its file in the sheet; closing it clears the opening.
    QTest::mouseClick(child<QAbstractButton>(v, "evidence.open.src/orders/OrderList.php"), Qt::LeftButton);
    QVERIFY(v->opening());
    QCOMPARE(v->opening()->file().path, QStringLiteral("src/orders/OrderList.php"));
    QTRY_VERIFY(v->opening()->text().has_value());
    saveShot(v->opening(), QStringLiteral("artifact-sheet.png"));
    QTest::mouseClick(child<QAbstractButton>(v->opening(), "deskartifact.close"), Qt::LeftButton);
    QTRY_VERIFY(!v->opening());

    // With the diff and the details open.
    diff->setExpanded(true);
    QTest::mouseClick(child<QAbstractButton>(v, "evidence.diagnostics.toggle.c-101"), Qt::LeftButton);
    QVERIFY(shows(child<QWidget>(v, "evidence.diagnostics.c-101")));
    saveShot(m_window.get(), QStringLiteral("evidence-finished.png"));

    // A finished command is fetched once.
    QCOMPARE(int(matching(m_sim->requests(), "GET", kApi + "/commands/c-101/changes").size()), 1);
}

void TestTaskEvidenceView::runningCommandOnlyWhileShown()
{
    TaskEvidenceView* v = view(QStringLiteral("c-105"));
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
        = [&] { return int(matching(m_sim->requests(), "GET", kApi + "/commands/c-105/changes").size()); };
    const int before = changes();
    QTest::qWait(2500);
    QCOMPARE(changes(), before);
    m_window->show();
    QTRY_COMPARE(changes(), before + 1);
}

void TestTaskEvidenceView::artifactSheet_data()
{
    QTest::addColumn<QString>("path"); // of c-105 unless a hash is given
    QTest::addColumn<QByteArray>("fault"); // the blob request's first answer, "" for none
    QTest::addColumn<QString>("title"); // "" when the text shows
    QTest::addColumn<QString>("why");
    QTest::addColumn<bool>("retry");

    QTest::newRow("text") << "src/checkout/CouponStack.php" << QByteArray() << QString() << QString() << false;
    QTest::newRow("not uploaded, with a note")
        << "docs/api/checkout.md" << QByteArray() << QStringLiteral("打不开这份产物")
        << QStringLiteral("文档改动只上报了 diff") << false;
    QTest::newRow("not on the server")
        << "config/coupons.yml" << QByteArray() << QStringLiteral("打不开这份产物")
        << QStringLiteral("服务器上没有这份内容。可能是工作区搬过家、内容已被清理，或者它不属于当前工作区。") << false;
    QTest::newRow("gateway error, then retry")
        << "src/checkout/CouponStack.php" << QByteArray(R"({"error":"存储暂时不可用"})")
        << QStringLiteral("文档暂时无法打开") << QStringLiteral("取内容失败：存储暂时不可用") << true;
}

void TestTaskEvidenceView::artifactSheet()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, fault);
    QFETCH(QString, title);
    QFETCH(QString, why);
    QFETCH(bool, retry);

    const QList<DeskFileChange> files = QCoro::waitFor(m_status->evidenceSnapshot("c-105", m_cfg)).state.changes.files;
    const auto it = std::find_if(files.begin(), files.end(), [&](const DeskFileChange& f) { return f.path == path; });
    QVERIFY(it != files.end());
    if (!fault.isEmpty())
        m_sim->setFault("GET", kApi + "/blobs/" + it->hash, 503, fault, 0, 1);
    m_sim->clearRequests();

    DeskArtifactSheet sheet(*it, m_cfg, m_status.get(), QStringLiteral("重写购物车结算接口"));
    QSignalSpy loaded(&sheet, &DeskArtifactSheet::loadFinished);
    sheet.open();
    QTRY_COMPARE(loaded.size(), 1);
    const auto blobRequests
        = [&] { return int(matching(m_sim->requests(), "GET", kApi + "/blobs/" + it->hash).size()); };
    QCOMPARE(blobRequests(), it->hash.isEmpty() ? 0 : 1);

    if (title.isEmpty()) {
        QVERIFY(child<QPlainTextEdit>(&sheet, "deskartifact.body")->toPlainText().contains("final class CouponStack"));
        return;
    }
    QCOMPARE(child<QWidget>(&sheet, "deskartifact.error")->findChildren<QLabel*>().first()->text(), title);
    QCOMPARE(child<QLabel>(&sheet, "deskartifact.error.why")->text(), why);
    auto* retryButton = child<SecondaryButton>(&sheet, "deskartifact.retry");
    QCOMPARE(shows(retryButton), retry);
    if (!retry)
        return;
    QTest::mouseClick(retryButton, Qt::LeftButton);
    QTRY_COMPARE(loaded.size(), 2);
    QVERIFY(shows(child<QWidget>(&sheet, "deskartifact.body")));
    QCOMPARE(blobRequests(), 2);
}

QTEST_MAIN(TestTaskEvidenceView)
#include "tst_TaskEvidenceView.moc"
