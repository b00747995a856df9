#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/shell/WindowController.h"
#include "core/workspaces/QRImage.h"
#include "core/workspaces/RelocationState.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/OutcomeLine.h"
#include "gui/design/ProseLabel.h"
#include "gui/design/SecondaryButton.h"
#include "gui/platform/Prompts.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/PairedPage.h"
#include "gui/workspaces/PairingSection.h"
#include "gui/workspaces/PairingSheet.h"
#include "gui/workspaces/QRView.h"
#include "gui/workspaces/RelocationBanner.h"

#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

#include <QCoroTask>

namespace {

const QString kDemo = QStringLiteral("ws-demo");

void save(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QTest::qWait(80);
    QVERIFY(widget->grab().save(QDir(dir).filePath(name)));
}

// The window's background and width around a section, for its screenshot.
class Stage : public QWidget {
public:
    explicit Stage(QWidget* content)
    {
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, DS::bg());
        setPalette(p);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(0, 20, 0, 20);
        column->addWidget(content);
        column->addStretch(1);
        setFixedWidth(840);
    }
};

} // namespace

class TestWorkspaceViews : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void pairingSheet();
    void pairingSheetListsWhatTheCodeCarries();
    void bannerInTheWindow();
    void bannerCandidates();
    void relocationPickerStart_data();
    void relocationPickerStart();
    void oneFolderOneWorkspace_data();
    void oneFolderOneWorkspace();
    void heldPickSurvivesAQuit_data();
    void heldPickSurvivesAQuit();

private:
    std::unique_ptr<SimWorld> m_world;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestWorkspaceViews::init()
{
    m_world = std::make_unique<SimWorld>();
    QVERIFY2(m_world->sim->ok(), m_world->sim->output().constData());
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));
}

void TestWorkspaceViews::cleanup()
{
    Prompts::setShared(nullptr);
    m_world.reset();
}

// The sheet against the stand-in gateway: loading, then the code of the link
// (the code itself is read back in the core tests), copy, Escape; opened again
// onto a refusal, the refusal. Then the entry card's copy, refused and not.
void TestWorkspaceViews::pairingSheet()
{
    {
        // With nothing paired the section is its title alone.
        WorkspaceCatalog empty;
        PairingSection section(&empty);
        QVERIFY(section.toggleButton()->isHidden() && section.entryCard()->isHidden());
    }
    m_world->pair();
    WorkspaceCatalog catalog;
    catalog.setHostNameForTesting(QStringLiteral("build-host"));
    QCoro::waitFor(catalog.reload(false));
    auto* section = new PairingSection(&catalog);
    Stage stage(section);
    stage.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stage));
    save(section, QStringLiteral("qr-section.png"));

    m_world->sim->setFault("POST", QStringLiteral("/api/pair/start"), 0, {}, 800, 1);
    QTest::mouseClick(section->toggleButton(), Qt::LeftButton);
    PairingSheet* sheet = section->sheet();
    QVERIFY(QTest::qWaitForWindowExposed(sheet));
    QCOMPARE(sheet->content(), PairingSheet::Content::Loading);
    QTRY_COMPARE_WITH_TIMEOUT(sheet->content(), PairingSheet::Content::Link, 15000);
    const QString link = catalog.pairLink().value_or(QString());
    QVERIFY(!link.isEmpty());
    QCOMPARE(sheet->linkText()->toPlainText(), link);
    QVERIFY(sheet->qrView()->diagnosticLine().contains(QStringLiteral(" logo=yes(")));
    // The stand-in's address is 127.0.0.1: the sheet says that no phone reaches it, and what to do.
    const auto* unreachable = sheet->findChild<QLabel*>(QStringLiteral("qr.unreachable"));
    QVERIFY(unreachable && unreachable->isVisible());
    save(sheet, QStringLiteral("qr-sheet.png"));

    QSignalSpy notices(section, &PairingSection::notice);
    QTest::mouseClick(sheet->copyButton(), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), link);
    QCOMPARE(notices.takeFirst(), (QVariantList { QStringLiteral("链接已复制"), false }));
    // The notice banner lies behind the sheet: the sheet says it under the button.
    QVERIFY(sheet->copyOutcome()->isVisible());
    QCOMPARE(sheet->copyOutcome()->text(), QStringLiteral("✅ 链接已复制"));

    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(!section->qrExpanded());
    QVERIFY(!TempHome::crumbs().contains(link.section(QStringLiteral("#p="), 1))); // the token never reaches the log

    m_world->sim->setFault("POST", QStringLiteral("/api/pair/start"), 404, R"({"error":"no"})");
    section->setQrExpanded(true);
    sheet = section->sheet();
    QTRY_COMPARE_WITH_TIMEOUT(sheet->content(), PairingSheet::Content::Error, 15000);
    QVERIFY(!sheet->qrView() || !sheet->qrView()->isVisible());
    save(sheet, QStringLiteral("qr-sheet-error.png"));
    QTest::mouseClick(sheet->findChild<QAbstractButton*>(QStringLiteral("qr.collapse")), Qt::LeftButton);
    QTRY_VERIFY(!section->qrExpanded());

    // Each press asks for a link; nothing copied, the press is answered with the reason.
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QSignalSpy copied(section, &PairingSection::copyFinished);
    m_world->sim->clearRequests();
    for (const bool refused : { true, false }) {
        if (!refused)
            m_world->sim->clearFaults();
        QTest::mouseClick(section->entryCopyButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(copied.size(), refused ? 1 : 2, 15000);
        QCOMPARE(notices.takeFirst(),
            (QVariantList { refused ? QStringLiteral("服务端拒绝了配对请求（HTTP 404）") : QStringLiteral("链接已复制"),
                refused }));
        QCOMPARE(QGuiApplication::clipboard()->text(), refused ? QStringLiteral("before") : *catalog.pairLink());
        // Said in the card too, beside the button: the banner is out of view from here.
        QVERIFY(section->entryOutcome()->isVisible());
        QCOMPARE(section->entryOutcome()->text(),
            refused ? QStringLiteral("❌ 服务端拒绝了配对请求（HTTP 404）") : QStringLiteral("✅ 链接已复制"));
        if (refused)
            save(section, QStringLiteral("qr-section-copy-refused.png"));
    }
    QCOMPARE(matching(m_world->sim->requests(), QStringLiteral("POST"), QStringLiteral("/api/pair/start")).size(), 2);

    // A second press while the answer is slow (a double click) asks for no second link.
    m_world->sim->clearRequests();
    m_world->sim->setFault("POST", QStringLiteral("/api/pair/start"), 0, {}, 800, 1);
    QTest::mouseClick(section->entryCopyButton(), Qt::LeftButton);
    QTest::mouseClick(section->entryCopyButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(copied.size(), 3, 15000);
    QCOMPARE(matching(m_world->sim->requests(), QStringLiteral("POST"), QStringLiteral("/api/pair/start")).size(), 1);
    QCOMPARE(notices.takeFirst(), (QVariantList { QStringLiteral("链接已复制"), false }));
    QVERIFY(section->entryCopyButton()->isEnabled());
    QVERIFY(notices.isEmpty());

    // The sheet's own fetch overtakes the card's: the card copies nothing, and says so.
    m_world->sim->setFault("POST", QStringLiteral("/api/pair/start"), 0, {}, 800, 1);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::mouseClick(section->entryCopyButton(), Qt::LeftButton);
    section->setQrExpanded(true);
    QTRY_COMPARE_WITH_TIMEOUT(copied.size(), 4, 15000);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QCOMPARE(section->entryOutcome()->text(), QStringLiteral("❌ ") + PairingSection::overtakenText());
}

// Besides Demo Shop, one workspace is on another gateway and one the gateway
// does not know: the card counts what a code carries, and the sheet lists
// exactly the workspaces its code carries and names the others, with why.
void TestWorkspaceViews::pairingSheetListsWhatTheCodeCarries()
{
    m_world->pair();
    const auto pairAt = [this](const QString& api, const QString& ws, const QString& name) {
        const QJsonObject o { { "api", api }, { "workspace", ws }, { "token", "t-" + ws }, { "name", name } };
        m_world->home.writeFile(".tolvarine/workspaces/" + ws + ".json", QJsonDocument(o).toJson());
    };
    pairAt(QStringLiteral("http://127.0.0.1:1"), QStringLiteral("ws-far"), QStringLiteral("Far Blog"));
    pairAt(m_world->sim->origin(), QStringLiteral("ws-gone"), QStringLiteral("Gone"));
    WorkspaceCatalog catalog;
    catalog.setHostNameForTesting(QStringLiteral("build-host"));
    QCoro::waitFor(catalog.reload(false));
    QCOMPARE(catalog.selectedID(), kDemo);
    auto* section = new PairingSection(&catalog);
    Stage stage(section);
    stage.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stage));
    const QList<ProseLabel*> texts = section->findChildren<ProseLabel*>();
    const auto cardSays = [&texts](const QString& text) {
        return std::any_of(texts.begin(), texts.end(), [&text](ProseLabel* l) { return l->text() == text; });
    };
    QVERIFY(cardSays(PairingSection::entryText(2, 1)));

    QTest::mouseClick(section->toggleButton(), Qt::LeftButton);
    PairingSheet* sheet = section->sheet();
    QTRY_COMPARE_WITH_TIMEOUT(sheet->content(), PairingSheet::Content::Link, 15000);
    QStringList listed;
    for (ElidedLine* name : sheet->findChildren<ElidedLine*>(QStringLiteral("name")))
        if (name->isVisible())
            listed << name->text();
    QCOMPARE(listed, QStringList { QStringLiteral("Demo Shop") });
    const QString leftOut = sheet->findChild<QLabel*>(QStringLiteral("qr.leftOut"))->text();
    QVERIFY2(leftOut.contains(QStringLiteral("· Far Blog：在另一个网关上（http://127.0.0.1:1）"))
            && leftOut.contains(QStringLiteral("· Gone：网关不肯带上它（HTTP 403）")),
        qPrintable(leftOut));
    save(sheet, QStringLiteral("qr-sheet-left-out.png"));
    // The card, too, counts and names what the code carries now.
    QVERIFY(cardSays(
        QStringLiteral("一次扫码带走这台电脑上的 1 个工作区（Demo Shop），换项目不用重扫；另外 2 个（Far "
                       "Blog、Gone）这个码没有带上，原因见「显示二维码」。码里只有配对身份，不含任何工作区凭据。")));
}

// The demo workspace's folder has moved: the banner heads the page, its own
// search finds the folder, and confirming re-binds it and takes the banner away.
void TestWorkspaceViews::bannerInTheWindow()
{
    const QString moved = m_world->home.filePath(QStringLiteral("archive/ws-demo"));
    QVERIFY(QDir().mkpath(moved));
    m_world->pair({ kDemo }, false);

    MainWindow w(MainWindow::Intervals { std::chrono::hours(1), std::chrono::hours(1) });
    auto* banner = qobject_cast<RelocationBanner*>(w.pairedPage()->section(PairedPage::RelocationBanner));
    QVERIFY(banner && w.pairedPage()->sections().first() == banner);
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(banner->matchBox()->isVisible(), 20000);
    QCOMPARE(banner->findChild<QLabel*>(QStringLiteral("workspace.relocate.pending"))->text(), moved);
    save(&w, QStringLiteral("main-moved-match.png"));

    QSignalSpy rebound(banner->state(), &RelocationState::relocationFinished);
    QTest::mouseClick(
        banner->findChild<QAbstractButton*>(QStringLiteral("workspace.relocate.confirm")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rebound.size(), 1, 20000);
    // The catalogue and then the status model read the new folder.
    QCOMPARE(w.controller()->selectedConfig()->path, moved);
    QCOMPARE(w.controller()->status()->config()->path, moved);
    QVERIFY(!banner->isVisible());
}

// Several folders of the same name: the banner offers them all and chooses
// none; the folder button asks through the picker; a row re-binds that folder.
void TestWorkspaceViews::bannerCandidates()
{
    for (const char* f : { "work/shop", "backup/shop" })
        QVERIFY(QDir().mkpath(m_world->home.filePath(QLatin1String(f))));
    const QJsonObject o { { "api", "http://127.0.0.1:1" }, { "workspace", "ws-shop" }, { "token", "t" },
        { "path", m_world->home.filePath(QStringLiteral("code/shop")) } };
    m_world->home.writeFile(QStringLiteral(".tolvarine/workspaces/ws-shop.json"), QJsonDocument(o).toJson());
    WorkspaceCatalog catalog;
    QCoro::waitFor(catalog.reload(false));
    auto* state = new RelocationState(&catalog);
    QSignalSpy searched(state, &RelocationState::discoveryFinished);
    auto* banner = new RelocationBanner(state);
    state->setParent(banner);
    Stage stage(banner);
    stage.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stage));
    QTRY_COMPARE_WITH_TIMEOUT(searched.size(), 1, 20000);
    QVERIFY(banner->candidatesBox()->isVisible() && banner->matchBox()->isHidden());
    QCOMPARE(banner->candidateRows().size(), 2);
    save(banner, QStringLiteral("banner-candidates.png"));

    // While a search runs the retry waits and the folder button still asks the picker.
    m_world->tool.put(QStringLiteral("workspace-relocate.delay_ms"), "600");
    QTest::mouseClick(banner->retryButton(), Qt::LeftButton);
    QVERIFY(!banner->retryButton()->isEnabled());
    QTest::mouseClick(banner->folderButton(), Qt::LeftButton);
    QTRY_COMPARE(m_prompts->folderPrompts.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(searched.size(), 2, 20000);
    QVERIFY(banner->retryButton()->isEnabled());

    // While the chosen folder is applied, neither the picker nor a search is
    // offered: one press, one re-binding.
    m_prompts->folderAnswers = { m_world->home.filePath(QStringLiteral("backup/shop")) };
    QSignalSpy rebound(state, &RelocationState::relocationFinished);
    QTest::mouseClick(banner->candidateRows().at(1), Qt::LeftButton);
    QTest::mouseClick(banner->folderButton(), Qt::LeftButton);
    QTest::mouseClick(banner->retryButton(), Qt::LeftButton);
    QCOMPARE(m_prompts->folderPrompts.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(rebound.size(), 1, 20000);
    m_world->tool.drop(QStringLiteral("workspace-relocate.delay_ms"));
    const QStringList relocations = m_world->tool.argvs().filter("workspace relocate");
    QCOMPARE(relocations.size() - relocations.filter("--dry-run").size(), 1);
    QCOMPARE(searched.size(), 2);
    QCOMPARE(catalog.selected()->config.path, m_world->home.filePath(QStringLiteral("work/shop")));
    QVERIFY(banner->isHidden());
}

void TestWorkspaceViews::relocationPickerStart_data()
{
    QTest::addColumn<QString>("paired"); // the folder as paired, under the home ("": none)
    QTest::addColumn<QString>("start"); // where the picker opens, under the home ("" : the home)
    QTest::newRow("its parent is still there") << "code/shop"
                                               << "code";
    QTest::newRow("its parent went too") << "gone/shop"
                                         << "";
    QTest::newRow("no folder in the pairing") << ""
                                              << "";
}

// The folder button's picker opens where the folder most likely went.
void TestWorkspaceViews::relocationPickerStart()
{
    QFETCH(QString, paired);
    QFETCH(QString, start);
    QVERIFY(QDir().mkpath(m_world->home.filePath(QStringLiteral("code"))));
    QJsonObject o { { "api", "http://127.0.0.1:1" }, { "workspace", "ws-shop" }, { "token", "t" } };
    if (!paired.isEmpty())
        o.insert("path", m_world->home.filePath(paired));
    m_world->home.writeFile(QStringLiteral(".tolvarine/workspaces/ws-shop.json"), QJsonDocument(o).toJson());
    WorkspaceCatalog catalog;
    QCoro::waitFor(catalog.reload(false));
    auto* state = new RelocationState(&catalog);
    auto* banner = new RelocationBanner(state);
    state->setParent(banner);
    Stage stage(banner);
    stage.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stage));

    QTest::mouseClick(banner->folderButton(), Qt::LeftButton);
    QTRY_COMPARE(m_prompts->folderStartDirs.size(), 1);
    QCOMPARE(m_prompts->folderStartDirs.first(),
        start.isEmpty() ? QDir::homePath() : QDir(m_world->home.filePath(start)).absolutePath());
}

void TestWorkspaceViews::oneFolderOneWorkspace_data()
{
    QTest::addColumn<QString>("road"); // "picker", "argument" or "match" (the search's own find, confirmed)
    QTest::addColumn<QString>("folder"); // Demo Shop's folder as given, under the home
    QTest::newRow("picker") << "picker"
                            << "projects/ws-demo";
    QTest::newRow("picker, a trailing slash") << "picker"
                                              << "projects/ws-demo/";
    QTest::newRow("picker, through a link") << "picker"
                                            << "links/shop";
    QTest::newRow("launch argument") << "argument"
                                     << "projects/./ws-demo";
    QTest::newRow("found by the search, confirmed") << "match"
                                                    << "projects/ws-demo";
}

// Team Blog's folder has moved; Demo Shop's is where it was. No road binds
// Team Blog to Demo Shop's folder: it is refused before the tool runs, with a
// note that names Demo Shop.
void TestWorkspaceViews::oneFolderOneWorkspace()
{
    QFETCH(QString, road);
    QFETCH(QString, folder);
    m_world->pair({ kDemo, QStringLiteral("ws-blog") });
    QVERIFY(QDir().mkpath(m_world->home.filePath(QStringLiteral("links"))));
    QVERIFY(QFile::link(m_world->home.filePath("projects/ws-demo"), m_world->home.filePath("links/shop")));
    // Its old folder had the name Demo Shop's has, so the search finds that one.
    CLIConfig blog = m_world->sim->config(QStringLiteral("ws-blog"));
    blog.path = m_world->home.filePath(road == QLatin1String("match") ? "old/ws-demo" : "old/ws-blog");
    m_world->home.writeFile(".tolvarine/workspaces/ws-blog.json", QJsonDocument(blog.toJson()).toJson());
    QSettings().setValue(QLatin1String(WorkspaceCatalog::kSelectionKey), QStringLiteral("ws-blog"));
    const QString given = m_world->home.filePath(folder);
    m_prompts->folderAnswers = { given };

    MainWindow w(MainWindow::Intervals { std::chrono::hours(1), std::chrono::hours(1) });
    RelocationState* state = w.controller()->relocation();
    state->setLaunchArguments(
        { "tolvarine-desktop", road == QLatin1String("argument") ? "-ZRKRelocateTo" : "", given });
    auto* banner = qobject_cast<RelocationBanner*>(w.pairedPage()->section(PairedPage::RelocationBanner));
    w.show();
    // The search and the refused rebind each run the tool: on a loaded machine that takes a while.
    QTRY_VERIFY_WITH_TIMEOUT(state->autoTried().contains("ws-blog") && !state->relocateBusy(), 60000);
    QSignalSpy finished(state, &RelocationState::relocationFinished);
    if (road == QLatin1String("match")) {
        auto* confirm = banner->findChild<QAbstractButton*>("workspace.relocate.confirm");
        QTRY_VERIFY_WITH_TIMEOUT(confirm->isVisible() && !state->relocatePending().isEmpty(), 60000);
        QTest::mouseClick(confirm, Qt::LeftButton);
    } else {
        QTest::mouseClick(banner->folderButton(), Qt::LeftButton);
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    QCOMPARE(state->relocateNote(), RelocationState::takenBy(QStringLiteral("Demo Shop"), QStringLiteral("Team Blog")));
    QVERIFY(banner->isVisible());
    // Only searches ran; nothing was re-bound.
    QCOMPARE(m_world->tool.argvs().filter("workspace relocate").filter("--dry-run").size(),
        m_world->tool.argvs().filter("workspace relocate").size());
}

void TestWorkspaceViews::heldPickSurvivesAQuit_data()
{
    QTest::addColumn<bool>("atStartUp"); // unreadable at the first read, else at a poll
    QTest::newRow("unreadable at a poll") << false;
    QTest::newRow("unreadable at the first read") << true;
}

// The user's pick is Team Blog, whose pairing file cannot be read at one read
// (a tool rewriting it). Demo Shop stands in, and the window is closed then:
// the next start opens Team Blog again.
void TestWorkspaceViews::heldPickSurvivesAQuit()
{
    QFETCH(bool, atStartUp);
    m_world->pair({ kDemo, QStringLiteral("ws-blog") });
    const QString file = QStringLiteral(".tolvarine/workspaces/ws-blog.json");
    QFile f(m_world->home.filePath(file));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray blog = f.readAll();
    QSettings().setValue(QLatin1String(WorkspaceCatalog::kSelectionKey), QStringLiteral("ws-blog"));
    const auto open = [](MainWindow& w) {
        QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 20000);
    };
    const MainWindow::Intervals quiet { std::chrono::hours(1), std::chrono::hours(1) };
    if (atStartUp)
        m_world->home.writeFile(file, "{");
    {
        MainWindow w(quiet);
        open(w);
        if (!atStartUp) {
            m_world->home.writeFile(file, "{");
            QCoro::waitFor(w.controller()->catalog()->reload(false)); // the poll's read
        }
        QCOMPARE(w.controller()->catalog()->selectedID(), kDemo);
    }
    // The window has gone, and with it every write of the choice it made.
    QCOMPARE(QSettings().value(QLatin1String(WorkspaceCatalog::kSelectionKey)).toString(), QStringLiteral("ws-blog"));

    m_world->home.writeFile(file, blog);
    MainWindow w(quiet);
    open(w);
    QCOMPARE(w.controller()->catalog()->selectedID(), QStringLiteral("ws-blog"));
    QCOMPARE(w.controller()->status()->config()->workspace, QStringLiteral("ws-blog"));
}

QTEST_MAIN(TestWorkspaceViews)
#include "tst_WorkspaceViews.moc"
