#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/shell/WindowController.h"
#include "core/workspaces/QRImage.h"
#include "core/workspaces/RelocationState.h"
#include "core/workspaces/WorkspaceCatalog.h"
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
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

#include <QCoroTask>

namespace {

const QString kDemo = QStringLiteral("ws-demo");

// Decodes the image with zbar, as a phone camera would; a null string when it cannot.
QString zbarDecode(const QImage& image)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("code.png"));
    if (!image.save(file))
        return {};
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), { QStringLiteral("--quiet"), QStringLiteral("--raw"), file });
    if (!zbar.waitForFinished(60000) || zbar.exitStatus() != QProcess::NormalExit || zbar.exitCode() != 0)
        return {};
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

// Pixels in the middle of the code that are neither black nor white: the logo.
int colouredPixelsInTheMiddle(const QImage& image)
{
    int coloured = 0;
    const int c = image.width() / 2;
    for (int y = c - 20; y < c + 20; ++y)
        for (int x = c - 20; x < c + 20; ++x)
            coloured += image.pixelColor(x, y).hsvSaturation() > 80 ? 1 : 0;
    return coloured;
}

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
    void bannerInTheWindow();
    void bannerCandidates();

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

// The sheet against the stand-in gateway: loading, then the code (which a
// camera reads as the link) beside the workspaces, copy, Escape; opened again
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
    QCOMPARE(section->entryDescription()->text(),
        QStringLiteral(
            "一次扫码带走这台电脑上全部 1 个工作区，换项目不用重扫。码里只有配对身份，不含任何工作区凭据。"));
    save(section, QStringLiteral("qr-section.png"));

    m_world->sim->setFault("POST", QStringLiteral("/api/pair/start"), 0, {}, 800, 1);
    QTest::mouseClick(section->toggleButton(), Qt::LeftButton);
    QVERIFY(section->qrExpanded());
    PairingSheet* sheet = section->sheet();
    QVERIFY(QTest::qWaitForWindowExposed(sheet));
    QCOMPARE(sheet->content(), PairingSheet::Content::Loading);
    QVERIFY(sheet->findChild<QWidget*>(QStringLiteral("qr.loading"))->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(sheet->content(), PairingSheet::Content::Link, 15000);

    const QString link = catalog.pairLink().value_or(QString());
    QVERIFY2(link.startsWith(QStringLiteral("tolvarine://pair-device?v=1&device=")), qPrintable(link));
    QCOMPARE(sheet->linkText()->toPlainText(), link);
    QCOMPARE(sheet->workspaceNames(), QStringList { QStringLiteral("Demo Shop") });
    // The application's icon sits on the code, and the code still reads as the link.
    QRView* code = sheet->qrView();
    QVERIFY2(code->diagnosticLine().contains(QStringLiteral(" logo=yes(")), qPrintable(code->diagnosticLine()));
    QVERIFY(colouredPixelsInTheMiddle(code->image()) > 100);
    QVERIFY(code->densityWarning()->isHidden());
    save(sheet, QStringLiteral("qr-sheet.png"));
    QCOMPARE(zbarDecode(code->image()), link);

    QSignalSpy notices(section, &PairingSection::notice);
    QTest::mouseClick(sheet->copyButton(), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), link);
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.first(), (QVariantList { QStringLiteral("链接已复制"), false }));

    QTest::keyClick(sheet, Qt::Key_Escape);
    QTRY_VERIFY(!section->qrExpanded());
    const QString crumbs = TempHome::crumbs();
    QVERIFY(crumbs.contains(QStringLiteral("qr.toggle expanded=true\n")));
    QVERIFY(crumbs.contains(QStringLiteral("qr.toggle expanded=false\n")));
    QVERIFY(!crumbs.contains(link.section(QStringLiteral("#p="), 1))); // the token never reaches the log

    m_world->sim->setFault("POST", QStringLiteral("/api/pair/start"), 404, R"({"error":"no"})");
    section->setQrExpanded(true);
    sheet = section->sheet();
    QTRY_COMPARE_WITH_TIMEOUT(sheet->content(), PairingSheet::Content::Error, 15000);
    QCOMPARE(sheet->errorText()->text(), QStringLiteral("服务端拒绝了配对请求（HTTP 404）"));
    QVERIFY(!sheet->qrView() || !sheet->qrView()->isVisible());
    save(sheet, QStringLiteral("qr-sheet-error.png"));
    QTest::mouseClick(sheet->findChild<QAbstractButton*>(QStringLiteral("qr.collapse")), Qt::LeftButton);
    QTRY_VERIFY(!section->qrExpanded());

    // Each press asks for a link; nothing copied, the press is answered with the reason.
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QSignalSpy copied(section, &PairingSection::copyFinished);
    notices.clear();
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
    }
    QCOMPARE(matching(m_world->sim->requests(), QStringLiteral("POST"), QStringLiteral("/api/pair/start")).size(), 2);
    QVERIFY(notices.isEmpty());
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
    QVERIFY(banner);
    QCOMPARE(w.pairedPage()->sections().first(), banner);
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    w.show();
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 20000);
    QVERIFY(banner->isVisible());
    QCOMPARE(banner->previousLocation()->text(),
        "原来的位置：" + m_world->home.filePath(QStringLiteral("projects/ws-demo")));
    QTRY_VERIFY_WITH_TIMEOUT(banner->matchBox()->isVisible(), 20000);
    QCOMPARE(banner->findChild<QLabel*>(QStringLiteral("workspace.relocate.pending"))->text(), moved);
    QVERIFY(banner->candidatesBox()->isHidden());
    save(&w, QStringLiteral("main-moved-match.png"));

    QSignalSpy rebound(banner->state(), &RelocationState::relocationFinished);
    QTest::mouseClick(
        banner->findChild<QAbstractButton*>(QStringLiteral("workspace.relocate.confirm")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(rebound.size(), 1, 20000);
    QVERIFY(rebound.first().at(1).toBool());
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
    const QList<QAbstractButton*> rows = banner->candidateRows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0)->objectName(),
        "workspace.relocate.candidate." + m_world->home.filePath(QStringLiteral("backup/shop")));
    save(banner, QStringLiteral("banner-candidates.png"));

    // While a search runs the retry waits and the folder button does not.
    m_world->tool.put(QStringLiteral("workspace-relocate.delay_ms"), "600");
    QTest::mouseClick(banner->retryButton(), Qt::LeftButton);
    QCOMPARE(banner->retryButton()->text(), QStringLiteral("正在找…"));
    QVERIFY(!banner->retryButton()->isEnabled() && banner->folderButton()->isEnabled());
    QTest::mouseClick(banner->folderButton(), Qt::LeftButton);
    QTRY_COMPARE(m_prompts->folderPrompts, QStringList { QStringLiteral("就是这个目录") });
    QCOMPARE(m_prompts->folderMessages, QStringList { QStringLiteral("选择这个工作区现在所在的目录") });
    QTRY_COMPARE_WITH_TIMEOUT(searched.size(), 2, 20000);
    QVERIFY(banner->retryButton()->isEnabled());
    m_world->tool.drop(QStringLiteral("workspace-relocate.delay_ms"));

    QSignalSpy rebound(state, &RelocationState::relocationFinished);
    QTest::mouseClick(banner->candidateRows().at(1), Qt::LeftButton);
    QCOMPARE(banner->note()->text(), "正在恢复到 " + m_world->home.filePath(QStringLiteral("work/shop")) + "…");
    QTRY_COMPARE_WITH_TIMEOUT(rebound.size(), 1, 20000);
    QCOMPARE(catalog.selected()->config.path, m_world->home.filePath(QStringLiteral("work/shop")));
    QVERIFY(banner->isHidden());
}

QTEST_MAIN(TestWorkspaceViews)
#include "tst_WorkspaceViews.moc"
