#include "gui/shell/PresenceChip.h"
#include "gui/shell/WorkspaceSummaryBar.h"

#include "core/design/DS.h"

#include "TempHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTextDocument>
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

// Every attention row at once.
WorkspaceSummary everythingWrong()
{
    WorkspaceSummary s = healthy();
    s.employeesTotal = 6;
    s.employeesNoReading = 1;
    s.runtimesDisabled = 1;
    s.pendingApprovals = 2;
    s.failedTasks = 1;
    s.runtimesNeedingLogin = 3;
    s.workspaceUnavailable = s.agentOffline = true;
    s.runtimeAgeSeconds = 150;
    s.agentServiceRunning = false;
    return s;
}

// The texts a block shows: its title, then its value.
QStringList shownTexts(QWidget* block)
{
    QStringList out;
    for (QLabel* l : block->findChildren<QLabel*>())
        if (l->isVisibleTo(block))
            out.append(l->text());
    return out;
}

// The attention rows' texts and names, top to bottom, after the header.
std::pair<QStringList, QStringList> attentionRows(QWidget* bar)
{
    auto* block = bar->findChild<QWidget*>("workspace.summary.attention");
    QStringList texts, ids;
    for (int i = 1; i < block->layout()->count(); ++i) {
        QWidget* w = block->layout()->itemAt(i)->widget();
        if (!w || !w->isVisibleTo(block))
            continue;
        texts.append(w->findChild<QLabel*>()->text());
        ids.append(w->objectName());
        // Only the rows that lead somewhere are buttons.
        if ((qobject_cast<QAbstractButton*>(w) != nullptr) == w->objectName().isEmpty())
            ids.append(QStringLiteral("(button mismatch)"));
    }
    return { texts, ids };
}

} // namespace

Q_DECLARE_METATYPE(WorkspaceSummary)

class TestWorkspaceSummaryBar : public QObject {
    Q_OBJECT
private slots:
    void ageWord();
    void values_data();
    void values();
    void attention();
    void screenshots();
    void chipToolTipShowsTheTextAsItIs_data();
    void chipToolTipShowsTheTextAsItIs();
};

// Seconds up to 90, then whole minutes; a negative age (clock stepped back) reads as just now.
void TestWorkspaceSummaryBar::ageWord()
{
    const QList<std::pair<qint64, QString>> ages { { -5, "刚问过" }, { 10, "10 秒前问的" }, { 89, "89 秒前问的" },
        { 90, "1 分钟前问的" } };
    for (const auto& [seconds, word] : ages)
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

    QTest::newRow("healthy") << healthy() << QStringList { "AI 员工", "5 名 · 2 工作中 · 3 空闲" }
                             << QStringList { "Runtime", "3 已安装 · 2 已配置 · 2 可用 · 1 运行中", "42 秒前问的" };
    // An inventory that could not be read is not an empty one.
    WorkspaceSummary unreadable = healthy();
    unreadable.runtimeInventoryUnreadable = true;
    QTest::newRow("inventory unreadable")
        << unreadable << QStringList { "AI 员工", "5 名 · 2 工作中 · 3 空闲" }
        << QStringList { "Runtime", "读不到这台电脑上的 Runtime 清单", "42 秒前问的" };
    // The optional parts of each line appear only when they count something.
    QTest::newRow("everything") << everythingWrong()
                                << QStringList { "AI 员工", "6 名 · 2 工作中 · 3 空闲 · 1 没有读数" }
                                << QStringList { "Runtime", "3 已安装 · 2 已配置 · 2 可用 · 1 运行中 · 1 已停用",
                                       "2 分钟前问的" };
}

void TestWorkspaceSummaryBar::values()
{
    QFETCH(WorkspaceSummary, summary);
    QFETCH(QStringList, employees);
    QFETCH(QStringList, runtimes);
    TempHome home;
    WorkspaceSummaryBar bar;
    bar.setSummary(summary);
    QCOMPARE(shownTexts(bar.findChild<QWidget*>("summary.employees")), employees);
    QCOMPARE(shownTexts(bar.findChild<QWidget*>("summary.runtimes")), runtimes);
}

// The rows show in a fixed order; only those that lead somewhere are buttons.
void TestWorkspaceSummaryBar::attention()
{
    TempHome home;
    WorkspaceSummaryBar bar;
    WorkspaceSummary s = healthy();
    s.agentServiceRunning.reset(); // not known yet: no row for it
    bar.setSummary(s);
    auto* block = bar.findChild<QWidget*>("workspace.summary.attention");
    QVERIFY(block && !block->isVisibleTo(&bar));

    // The runner list not read yet says nothing; one that could not be read says so, not "offline".
    s.agentOffline = true;
    s.runners = WorkspaceSummary::Runners::notYetRead;
    bar.setSummary(s);
    QVERIFY(!block->isVisibleTo(&bar));
    s.runners = WorkspaceSummary::Runners::unreadable;
    bar.setSummary(s);
    QVERIFY(block->isVisibleTo(&bar));
    QCOMPARE(attentionRows(&bar).first, QStringList { "读不到这个工作区的执行体 —— 不知道有没有在线的" });

    s = everythingWrong();
    bar.setSummary(s);
    QVERIFY(block->isVisibleTo(&bar));
    const auto [texts, ids] = attentionRows(&bar);
    QCOMPARE(texts,
        (QStringList { "工作区目录不可用 —— 先把它找回来", "这个工作区里没有在线的执行体",
            "Agent Service 没在跑 —— 任务不会有人接", "2 个审批等你点头", "1 条失败等你决定",
            "3 个 Runtime 需要登录或配置" }));
    QCOMPARE(ids,
        (QStringList {
            "", "", "", "summary.attention.approvals", "summary.attention.failed", "summary.attention.runtimes" }));

    // Each button asks for its own place.
    QSignalSpy approvals(&bar, &WorkspaceSummaryBar::approvalsRequested);
    QSignalSpy failed(&bar, &WorkspaceSummaryBar::failedTasksRequested);
    QSignalSpy runtimes(&bar, &WorkspaceSummaryBar::runtimesRequested);
    QSignalSpy recovery(&bar, &WorkspaceSummaryBar::recoveryRequested);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    for (const QString& id : ids.mid(3) + QStringList { "workspace.recover" })
        QTest::mouseClick(bar.findChild<QAbstractButton*>(id), Qt::LeftButton);
    QCOMPARE((QList<qsizetype> { approvals.count(), failed.count(), runtimes.count(), recovery.count() }),
        (QList<qsizetype> { 1, 1, 1, 1 }));

    // A new count reuses the row; a row whose condition ends goes away.
    auto* row = bar.findChild<QAbstractButton*>("summary.attention.approvals");
    s.pendingApprovals = 9;
    s.failedTasks = 0;
    bar.setSummary(s);
    QCOMPARE(bar.findChild<QAbstractButton*>("summary.attention.approvals"), row);
    QCOMPARE(row->findChild<QLabel*>()->text(), QStringLiteral("9 个审批等你点头"));
    QTRY_VERIFY(!bar.findChild<QWidget*>("summary.attention.failed"));
    // And it comes back, in its place between approvals and runtimes.
    s.failedTasks = 4;
    bar.setSummary(s);
    QCOMPARE(attentionRows(&bar).second.mid(3), ids.mid(3));
    QCOMPARE(attentionRows(&bar).first.mid(3, 2), (QStringList { "9 个审批等你点头", "4 条失败等你决定" }));
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

    WorkspaceSummary fresh = healthy(), approvals = healthy();
    fresh.runtimeAgeSeconds = 3;
    approvals.pendingApprovals = 1;
    approvals.runtimeAgeSeconds = 95;
    const WorkspaceSummary loading { .agentOffline = true, .runners = WorkspaceSummary::Runners::notYetRead };
    const WorkspaceSummary empty { .runtimeInventoryLoaded = true, .teamLoaded = true, .agentServiceRunning = true };
    for (const WorkspaceSummary& s : { loading, fresh, empty, approvals, everythingWrong() }) {
        auto* bar = new WorkspaceSummaryBar(&page);
        bar->setSummary(s);
        column->addWidget(bar);
    }
    column->addStretch(1);

    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    // The states at the usual width, then at the narrowest the window allows.
    for (const auto& [width, name] :
        { std::pair { 820, "summary_bar_states.png" }, { 640, "summary_bar_narrow.png" } }) {
        page.setFixedWidth(width);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        page.adjustSize();
        // The picture shows the resting look, not the keyboard focus of the first button.
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        QTest::qWait(50);
        QVERIFY(page.grab().save(QDir(dir).filePath(name)));
    }
}

void TestWorkspaceSummaryBar::chipToolTipShowsTheTextAsItIs_data()
{
    QTest::addColumn<QString>("reason");
    QTest::newRow("markup from the gateway") << QStringLiteral("<b>bad</b> <img src=\"x\"> & <a href=\"y\">z</a>");
    QTest::newRow("entity") << QStringLiteral("a &amp; b");
}

// The presence chip's reason is the gateway's text: whatever markup it holds is shown, never rendered.
void TestWorkspaceSummaryBar::chipToolTipShowsTheTextAsItIs()
{
    QFETCH(QString, reason);
    PresenceChip chip;
    const AgentPresence presence = AgentPresence::unknown(reason);
    chip.setPresence(presence);
    QTextDocument shown;
    Qt::mightBeRichText(chip.toolTip()) ? shown.setHtml(chip.toolTip()) : shown.setPlainText(chip.toolTip());
    QCOMPARE(shown.toPlainText(), PresenceChip::presenceText(presence));
    QCOMPARE(chip.text(), PresenceChip::presenceText(presence));
}

QTEST_MAIN(TestWorkspaceSummaryBar)
#include "tst_WorkspaceSummaryBar.moc"
