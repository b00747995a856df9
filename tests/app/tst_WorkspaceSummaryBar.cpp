#include "app/WorkspaceSummaryBar.h"

#include "design/DS.h"
#include "design/SecondaryButton.h"

#include "TempHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

namespace {

WorkspaceSummary healthy()
{
    return { .employeesTotal = 5,
        .employeesWorking = 2,
        .employeesIdle = 3,
        .runtimesInstalled = 3,
        .runtimesConfigured = 2,
        .runtimesUsable = 2,
        .runtimesRunning = 1,
        .runtimeInventoryLoaded = true,
        .teamLoaded = true,
        .runtimeAgeSeconds = 42,
        .agentServiceRunning = true };
}

WorkspaceSummary everythingWrong()
{
    return { .employeesTotal = 6,
        .employeesWorking = 2,
        .employeesIdle = 3,
        .employeesNoReading = 1,
        .runtimesInstalled = 3,
        .runtimesConfigured = 2,
        .runtimesUsable = 2,
        .runtimesRunning = 1,
        .runtimesDisabled = 1,
        .pendingApprovals = 2,
        .failedTasks = 1,
        .runtimesNeedingLogin = 3,
        .workspaceUnavailable = true,
        .agentOffline = true,
        .runtimeInventoryLoaded = true,
        .teamLoaded = true,
        .runtimeAgeSeconds = 150,
        .agentServiceRunning = false };
}

// The texts a block shows: its title, then its value.
QStringList shownTexts(QWidget* block)
{
    QStringList out;
    for (QLabel* l : block->findChildren<QLabel*>()) {
        if (l->isVisibleTo(block))
            out.append(l->text());
    }
    return out;
}

QString readSnapshot(const TempHome& home)
{
    QFile f(home.filePath(".tolvarine/desktop_summary.json"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::number(QJsonDocument::fromJson(f.readAll()).object().value("employees_total").toInteger());
}

} // namespace

Q_DECLARE_METATYPE(WorkspaceSummary)

class TestWorkspaceSummaryBar : public QObject {
    Q_OBJECT
private slots:
    void employeeLine_data();
    void employeeLine();
    void runtimeLine_data();
    void runtimeLine();
    void ageWord_data();
    void ageWord();
    void values_data();
    void values();
    void attention_data();
    void attention();
    void actions();
    void updatesInPlace();
    void snapshotOnShowAndChange();
    void screenshots();
};

void TestWorkspaceSummaryBar::employeeLine_data()
{
    QTest::addColumn<QList<qint64>>("counts"); // total, working, idle, no reading
    QTest::addColumn<QString>("line");
    QTest::newRow("working and idle") << QList<qint64> { 5, 2, 3, 0 } << "5 名 · 2 工作中 · 3 空闲";
    QTest::newRow("none with a reading") << QList<qint64> { 2, 0, 0, 2 } << "2 名 · 2 没有读数";
    QTest::newRow("all three") << QList<qint64> { 1200, 1000, 150, 50 }
                               << "1200 名 · 1000 工作中 · 150 空闲 · 50 没有读数";
    QTest::newRow("only the total") << QList<qint64> { 0, 0, 0, 0 } << "0 名";
}

void TestWorkspaceSummaryBar::employeeLine()
{
    QFETCH(QList<qint64>, counts);
    QFETCH(QString, line);
    WorkspaceSummary s;
    s.employeesTotal = counts[0];
    s.employeesWorking = counts[1];
    s.employeesIdle = counts[2];
    s.employeesNoReading = counts[3];
    QCOMPARE(WorkspaceSummaryBar::employeeLine(s), line);
}

void TestWorkspaceSummaryBar::runtimeLine_data()
{
    QTest::addColumn<QList<qint64>>("counts"); // installed, configured, usable, running, disabled
    QTest::addColumn<QString>("line");
    QTest::newRow("nothing installed") << QList<qint64> { 0, 0, 0, 0, 0 } << "0 已安装 · 0 已配置 · 0 可用";
    QTest::newRow("running") << QList<qint64> { 3, 2, 2, 1, 0 } << "3 已安装 · 2 已配置 · 2 可用 · 1 运行中";
    QTest::newRow("disabled") << QList<qint64> { 3, 1, 0, 0, 2 } << "3 已安装 · 1 已配置 · 0 可用 · 2 已停用";
    QTest::newRow("both") << QList<qint64> { 4, 3, 2, 1, 1 } << "4 已安装 · 3 已配置 · 2 可用 · 1 运行中 · 1 已停用";
}

void TestWorkspaceSummaryBar::runtimeLine()
{
    QFETCH(QList<qint64>, counts);
    QFETCH(QString, line);
    WorkspaceSummary s;
    s.runtimesInstalled = counts[0];
    s.runtimesConfigured = counts[1];
    s.runtimesUsable = counts[2];
    s.runtimesRunning = counts[3];
    s.runtimesDisabled = counts[4];
    s.runtimesNeedingLogin = 7; // not part of the line
    QCOMPARE(WorkspaceSummaryBar::runtimeLine(s), line);
}

void TestWorkspaceSummaryBar::ageWord_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("word");
    QTest::newRow("negative") << qint64(-5) << "刚问过";
    QTest::newRow("0") << qint64(0) << "刚问过";
    QTest::newRow("9") << qint64(9) << "刚问过";
    QTest::newRow("10") << qint64(10) << "10 秒前问的";
    QTest::newRow("89") << qint64(89) << "89 秒前问的";
    QTest::newRow("90") << qint64(90) << "1 分钟前问的";
    QTest::newRow("119") << qint64(119) << "1 分钟前问的";
    QTest::newRow("150") << qint64(150) << "2 分钟前问的";
    QTest::newRow("3599") << qint64(3599) << "59 分钟前问的";
    QTest::newRow("a day") << qint64(86400) << "1440 分钟前问的";
}

void TestWorkspaceSummaryBar::ageWord()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, word);
    QCOMPARE(WorkspaceSummaryBar::ageWord(seconds), word);
}

void TestWorkspaceSummaryBar::values_data()
{
    QTest::addColumn<WorkspaceSummary>("summary");
    QTest::addColumn<QStringList>("employees"); // title, then what the block shows
    QTest::addColumn<QStringList>("runtimes");

    WorkspaceSummary notLoaded = healthy();
    notLoaded.teamLoaded = false;
    notLoaded.runtimeInventoryLoaded = false;
    QTest::newRow("nothing loaded, whatever the counts")
        << notLoaded << QStringList { "AI 员工", "还没读到员工" } << QStringList { "Runtime", "还在问这台机器" };

    WorkspaceSummary empty;
    empty.teamLoaded = true;
    empty.runtimeInventoryLoaded = true;
    QTest::newRow("loaded, empty, never refreshed") << empty << QStringList { "AI 员工", "还没有员工" }
                                                    << QStringList { "Runtime", "0 已安装 · 0 已配置 · 0 可用" };

    QTest::newRow("healthy") << healthy() << QStringList { "AI 员工", "5 名 · 2 工作中 · 3 空闲" }
                             << QStringList { "Runtime", "3 已安装 · 2 已配置 · 2 可用 · 1 运行中", "42 秒前问的" };
}

void TestWorkspaceSummaryBar::values()
{
    QFETCH(WorkspaceSummary, summary);
    QFETCH(QStringList, employees);
    QFETCH(QStringList, runtimes);

    TempHome home;
    WorkspaceSummaryBar bar;
    bar.setSummary(summary);
    auto* employeeBlock = bar.findChild<QWidget*>("summary.employees");
    auto* runtimeBlock = bar.findChild<QWidget*>("summary.runtimes");
    QVERIFY(employeeBlock && runtimeBlock);
    QCOMPARE(shownTexts(employeeBlock), employees);
    QCOMPARE(shownTexts(runtimeBlock), runtimes);
    auto* age = bar.findChild<QLabel*>("summary.runtimes.age");
    QVERIFY(age);
    QCOMPARE(age->isVisibleTo(&bar), runtimes.size() == 3);
}

void TestWorkspaceSummaryBar::attention_data()
{
    QTest::addColumn<WorkspaceSummary>("summary");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("identifiers"); // "" for a plain row

    WorkspaceSummary calm = healthy();
    calm.agentServiceRunning.reset(); // not known yet: no row for it
    QTest::newRow("nothing to attend to") << calm << QStringList {} << QStringList {};

    WorkspaceSummary serviceDown = healthy();
    serviceDown.agentServiceRunning = false;
    QTest::newRow("service down alone") << serviceDown << QStringList { "Agent Service 没在跑 —— 任务不会有人接" }
                                        << QStringList { "" };

    WorkspaceSummary approvals = healthy();
    approvals.pendingApprovals = 3;
    QTest::newRow("approvals") << approvals << QStringList { "3 个审批等你点头" }
                               << QStringList { "summary.attention.approvals" };

    QTest::newRow("everything, in order")
        << everythingWrong()
        << QStringList { "工作区目录不可用 —— 先把它找回来", "这个工作区里没有在线的执行体",
               "Agent Service 没在跑 —— 任务不会有人接", "2 个审批等你点头", "1 条失败等你决定",
               "3 个 Runtime 需要登录或配置" }
        << QStringList { "", "", "", "summary.attention.approvals", "summary.attention.failed",
               "summary.attention.runtimes" };
}

void TestWorkspaceSummaryBar::attention()
{
    QFETCH(WorkspaceSummary, summary);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, identifiers);

    TempHome home;
    WorkspaceSummaryBar bar;
    bar.setSummary(summary);
    auto* block = bar.findChild<QWidget*>("workspace.summary.attention");
    QVERIFY(block);
    QCOMPARE(block->isVisibleTo(&bar), !texts.isEmpty());
    if (texts.isEmpty())
        return;

    // The header first, then one line per row, top to bottom.
    auto* layout = qobject_cast<QVBoxLayout*>(block->layout());
    QVERIFY(layout);
    QStringList shownTextsInOrder;
    QStringList shownIds;
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* w = layout->itemAt(i)->widget();
        if (!w || !w->isVisibleTo(block))
            continue;
        if (i == 0) {
            QCOMPARE(qobject_cast<QLabel*>(w)->text(), QStringLiteral("需要处理"));
            continue;
        }
        shownTextsInOrder.append(w->findChild<QLabel*>()->text());
        shownIds.append(w->objectName());
        // Only the rows that lead somewhere are buttons.
        QCOMPARE(qobject_cast<QAbstractButton*>(w) != nullptr, !w->objectName().isEmpty());
    }
    QCOMPARE(shownTextsInOrder, texts);
    QCOMPARE(shownIds, identifiers);
}

void TestWorkspaceSummaryBar::actions()
{
    TempHome home;
    WorkspaceSummaryBar bar;
    bar.setSummary(everythingWrong());
    QSignalSpy approvals(&bar, &WorkspaceSummaryBar::approvalsRequested);
    QSignalSpy failed(&bar, &WorkspaceSummaryBar::failedTasksRequested);
    QSignalSpy runtimes(&bar, &WorkspaceSummaryBar::runtimesRequested);
    QSignalSpy recovery(&bar, &WorkspaceSummaryBar::recoveryRequested);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));

    const auto click = [&bar](const char* id) {
        auto* w = bar.findChild<QAbstractButton*>(id);
        QVERIFY2(w, id);
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    };
    click("summary.attention.approvals");
    click("summary.attention.failed");
    click("summary.attention.runtimes");
    click("summary.attention.runtimes");
    click("workspace.recover");
    QCOMPARE(approvals.count(), 1);
    QCOMPARE(failed.count(), 1);
    QCOMPARE(runtimes.count(), 2);
    QCOMPARE(recovery.count(), 1);

    auto* recover = bar.findChild<SecondaryButton*>("workspace.recover");
    QCOMPARE(recover->text(), QStringLiteral("检查并恢复"));
    QVERIFY(recover->toolTip().startsWith(QStringLiteral("一次把能自己修的都修掉")));
    QVERIFY(recover->isVisible());
    bar.setRecoverShown(false);
    QVERIFY(!recover->isVisible());
}

void TestWorkspaceSummaryBar::updatesInPlace()
{
    TempHome home;
    WorkspaceSummaryBar bar;
    WorkspaceSummary s = everythingWrong();
    bar.setSummary(s);
    auto* approvals = bar.findChild<QAbstractButton*>("summary.attention.approvals");
    QVERIFY(approvals);

    // A new count reuses the row; a row whose condition ends goes away.
    s.pendingApprovals = 9;
    s.failedTasks = 0;
    bar.setSummary(s);
    QCOMPARE(bar.findChild<QAbstractButton*>("summary.attention.approvals"), approvals);
    QCOMPARE(approvals->findChild<QLabel*>()->text(), QStringLiteral("9 个审批等你点头"));
    QTRY_VERIFY(!bar.findChild<QWidget*>("summary.attention.failed"));

    // And it comes back, in its place between approvals and runtimes.
    s.failedTasks = 4;
    bar.setSummary(s);
    auto* layout = bar.findChild<QWidget*>("workspace.summary.attention")->layout();
    QStringList ids;
    for (int i = 0; i < layout->count(); ++i) {
        if (QWidget* w = layout->itemAt(i)->widget(); w && !w->objectName().isEmpty())
            ids.append(w->objectName());
    }
    QCOMPARE(
        ids, (QStringList { "summary.attention.approvals", "summary.attention.failed", "summary.attention.runtimes" }));
}

void TestWorkspaceSummaryBar::snapshotOnShowAndChange()
{
    TempHome home;
    const QString path = home.filePath(".tolvarine/desktop_summary.json");
    QWidget window;
    auto* bar = new WorkspaceSummaryBar(&window);

    // The value the bar starts with is not written until the bar appears.
    WorkspaceSummary s = healthy();
    bar->setSummary(s);
    QVERIFY(!QFile::exists(path));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(readSnapshot(home), QStringLiteral("5"));

    // A different summary is written; the same one is not written again.
    s.employeesTotal = 7;
    bar->setSummary(s);
    QCOMPARE(readSnapshot(home), QStringLiteral("7"));
    QVERIFY(QFile::remove(path));
    bar->setSummary(s);
    QVERIFY(!QFile::exists(path));

    // While the bar is gone nothing is written; showing it again writes what it holds.
    bar->hide();
    s.employeesTotal = 8;
    bar->setSummary(s);
    QVERIFY(!QFile::exists(path));
    bar->show();
    QCOMPARE(readSnapshot(home), QStringLiteral("8"));
}

void TestWorkspaceSummaryBar::screenshots()
{
    TempHome home;
    QWidget page;
    page.setAutoFillBackground(true);
    QPalette palette = page.palette();
    palette.setColor(QPalette::Window, DS::bg());
    page.setPalette(palette);
    page.setFixedWidth(820);
    auto* column = new QVBoxLayout(&page);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(18);

    WorkspaceSummary loading;
    loading.agentOffline = true;
    WorkspaceSummary fresh = healthy();
    fresh.runtimeAgeSeconds = 3;
    WorkspaceSummary empty;
    empty.teamLoaded = true;
    empty.runtimeInventoryLoaded = true;
    empty.agentServiceRunning = true;
    WorkspaceSummary approvals = healthy();
    approvals.pendingApprovals = 1;
    approvals.runtimeAgeSeconds = 95;
    for (const WorkspaceSummary& s : { loading, fresh, empty, approvals, everythingWrong() }) {
        auto* bar = new WorkspaceSummaryBar(&page);
        bar->setSummary(s);
        column->addWidget(bar);
    }
    column->addStretch(1);

    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    const auto save = [&dir](QWidget* w, const QString& name) {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->adjustSize();
        // The picture shows the resting look, not the keyboard focus of the first button.
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        QTest::qWait(50);
        const QPixmap shot = w->grab();
        QVERIFY(!shot.isNull());
        QVERIFY(shot.save(QDir(dir).filePath(name)));
    };
    save(&page, QStringLiteral("summary_bar_states.png"));

    // The narrowest the window allows.
    page.setFixedWidth(640);
    save(&page, QStringLiteral("summary_bar_narrow.png"));
    for (auto* bar : page.findChildren<WorkspaceSummaryBar*>())
        QVERIFY(bar->width() <= 600);
}

QTEST_MAIN(TestWorkspaceSummaryBar)
#include "tst_WorkspaceSummaryBar.moc"
