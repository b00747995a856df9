#include "core/runtimes/RecoveryRunner.h"
#include "gui/design/SecondaryButton.h"
#include "gui/runtimes/RecoverySheet.h"
#include "gui/runtimes/RecoveryStepRow.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

#include <QCoroTask>

namespace {

// A runtime report with `ready` ready runtimes and one runtime per name in `login` that needs a login.
QByteArray report(int ready, const QStringList& login = {})
{
    QStringList rows;
    for (int i = 0; i < ready + login.size(); ++i) {
        const QString kind = i < ready ? QStringLiteral("rt%1").arg(i) : login[i - ready];
        rows.append(
            QStringLiteral(R"({"kind":"%1","display":"%2","adapter":"cli","usability":"%3","protocol":false,
            "health":{"installed":true,"healthy":true},"auth":{"state":"x","source":"y"},"cap_counts":{}})")
                .arg(kind, kind.toUpper(), i < ready ? QStringLiteral("ready") : QStringLiteral("login_required")));
    }
    return QStringLiteral(R"({"runtimes":[%1],"counts":{}})").arg(rows.join(',')).toUtf8();
}

QStringList needsYouLines(QWidget* sheet)
{
    QStringList out;
    auto* block = sheet->findChild<QWidget*>(QStringLiteral("recovery.needsyou"));
    for (QLabel* label : block->findChildren<QLabel*>())
        if (label->isVisibleTo(block))
            out.append(label->text());
    return out;
}

} // namespace

class TestRecoverySheet : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void duringAndAfterARun();
    void verdicts_data();
    void verdicts();
    void screenshots();

private:
    QCoro::Task<> run(RecoveryRunner& runner, std::optional<CLIConfig> ws)
    {
        return runner.run(
            std::move(ws), [] {}, []() -> QCoro::Task<> { co_return; });
    }
    CLIConfig workspace() const
    {
        CLIConfig c;
        c.api = QStringLiteral("http://127.0.0.1:1");
        c.workspace = QStringLiteral("ws-7");
        c.token = QStringLiteral("t");
        c.path = m_folder;
        return c;
    }
    static RecoveryStepRow* row(QWidget* sheet, const QString& id) { return sheet->findChild<RecoveryStepRow*>(id); }
    static bool shown(QWidget* sheet, const char* name) { return sheet->findChild<QWidget*>(name)->isVisible(); }
    // Spinner, divider, all-good verdict, needs-you block.
    static QList<bool> visibility(QWidget* sheet)
    {
        return { shown(sheet, "recovery.spinner"), shown(sheet, "recovery.divider"),
            shown(sheet, "recovery.verdict.allgood"), shown(sheet, "recovery.needsyou") };
    }
    static QString closeTitle(QWidget* sheet)
    {
        return sheet->findChild<SecondaryButton*>(QStringLiteral("recovery.close"))->titleLabel()->text();
    }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    QString m_folder;
};

void TestRecoverySheet::init()
{
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    m_folder = m_home->filePath(QStringLiteral("proj"));
    QDir().mkpath(m_folder);
    m_tool->answer(QStringLiteral("runtimes"), report(2));
}

void TestRecoverySheet::cleanup()
{
    m_tool.reset();
    m_home.reset();
}

void TestRecoverySheet::duringAndAfterARun()
{
    m_tool->put(QStringLiteral("daemon-status.delay_ms"), "700");
    RecoveryRunner runner;
    auto owned = std::make_unique<RecoverySheet>(&runner);
    RecoverySheet& sheet = *owned;
    sheet.open();
    QVERIFY(!shown(&sheet, "recovery.verdict.allgood")); // before any run

    auto running = run(runner, workspace());
    QTRY_VERIFY(row(&sheet, "recovery.step.service")
        && row(&sheet, "recovery.step.service")->accessibleName() == QStringLiteral("Agent Service running"));
    RecoveryStepRow* serviceRow = row(&sheet, "recovery.step.service");
    // While it runs: a spinner, no verdict, and the close button says the run goes on.
    QCOMPARE(visibility(&sheet), (QList<bool> { true, false, false, false }));
    QCOMPARE(closeTitle(&sheet), QStringLiteral("在后台跑着，先关掉"));

    QCoro::waitFor(std::move(running));
    // Rows are updated in place.
    QCOMPARE(row(&sheet, "recovery.step.service"), serviceRow);
    QCOMPARE(serviceRow->accessibleName(), QStringLiteral("Agent Service ok"));
    QCOMPARE(visibility(&sheet), (QList<bool> { false, true, true, false }));
    QCOMPARE(closeTitle(&sheet), QStringLiteral("关闭"));

    // A new run hides the verdict; closing the sheet, and its going away,
    // leave the run going.
    auto again = run(runner, workspace());
    QVERIFY(!shown(&sheet, "recovery.verdict.allgood"));
    QSignalSpy finished(&sheet, &QDialog::finished);
    QTest::mouseClick(sheet.findChild<SecondaryButton*>("recovery.close"), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    owned.reset();
    QVERIFY(runner.running());
    QCoro::waitFor(std::move(again));
    QCOMPARE(runner.steps().at(5).state, RecoveryRunner::State::Ok);
}

void TestRecoverySheet::verdicts_data()
{
    QTest::addColumn<bool>("paired");
    QTest::addColumn<QByteArray>("installOutput"); // "" = the service runs
    QTest::addColumn<QStringList>("login");
    QTest::addColumn<QStringList>("lines"); // the needs-you block, top to bottom
    QTest::addColumn<QString>("serviceDetail");

    // Without a workspace every later step is skipped.
    QTest::newRow("no workspace") << false << QByteArray() << QStringList {}
                                  << QStringList { "需要你处理", "·", "工作区目录",
                                         "在项目目录里跑一次 brenlow pair，或者用上面的 ＋ 号选一个目录" }
                                  << QStringLiteral("跳过 —— 还没有工作区");
    // The failed service install (no action: its first line) comes after the
    // runtimes that need a login (an action), though it ran first.
    QTest::newRow("failed after needs you")
        << true << QByteArray("launchctl: nope\nsecond line\n") << QStringList { "claude" }
        << QStringList { "需要你处理", "·", "Runtime 探测与健康", "CLAUDE —— 在 Runtime 那一屏各自有入口", "·",
               "Agent Service", "launchctl: nope" }
        << QStringLiteral("launchctl: nope");
}

void TestRecoverySheet::verdicts()
{
    QFETCH(bool, paired);
    QFETCH(QByteArray, installOutput);
    QFETCH(QStringList, login);
    QFETCH(QStringList, lines);
    QFETCH(QString, serviceDetail);
    if (!installOutput.isEmpty()) {
        m_tool->put(QStringLiteral("daemon.state"), "not_installed");
        m_tool->answer(QStringLiteral("daemon-install"), installOutput, 1);
    }
    m_tool->answer(QStringLiteral("runtimes"), report(2, login));

    RecoveryRunner runner;
    QCoro::waitFor(run(runner, paired ? std::optional<CLIConfig>(workspace()) : std::nullopt));
    // Opened after the run: it shows the runner's state as it is.
    RecoverySheet sheet(&runner);
    sheet.open();
    QCOMPARE(visibility(&sheet), (QList<bool> { false, true, false, true }));
    QCOMPARE(needsYouLines(&sheet), lines);
    QCOMPARE(row(&sheet, "recovery.step.service")->detailLabel()->text(), serviceDetail);
    if (!paired) // every later step was skipped alike
        QCOMPARE(row(&sheet, "recovery.step.refresh")->detailLabel()->text(), serviceDetail);
}

void TestRecoverySheet::screenshots()
{
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    auto shoot = [&](QDialog* d, const QString& name) {
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QTest::qWait(80);
        QVERIFY(d->grab().save(QDir(dir).filePath(name)));
    };

    // Mid-run.
    m_tool->put(QStringLiteral("daemon-status.delay_ms"), "1500");
    RecoveryRunner live;
    RecoverySheet during(&live);
    auto running = run(live, workspace());
    QTRY_VERIFY(live.steps().size() == 6 && live.steps().at(2).state == RecoveryRunner::State::Running);
    shoot(&during, QStringLiteral("sheet-recovery-running.png"));
    QCoro::waitFor(std::move(running));
    shoot(&during, QStringLiteral("sheet-recovery-allgood.png"));
    during.hide();

    // Finished with things for the user.
    m_tool->drop(QStringLiteral("daemon-status.delay_ms"));
    m_tool->put(QStringLiteral("daemon.state"), "not_installed");
    m_tool->answer(QStringLiteral("daemon-install"), "launchctl: 服务没装上（权限不够）\n", 1);
    m_tool->answer(QStringLiteral("runtimes"), report(3, { "claude", "codex" }));
    RecoveryRunner mixed;
    QCoro::waitFor(run(mixed, workspace()));
    RecoverySheet after(&mixed);
    shoot(&after, QStringLiteral("sheet-recovery-needsyou.png"));
}

QTEST_MAIN(TestRecoverySheet)
#include "tst_RecoverySheet.moc"
