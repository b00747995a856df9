#include "core/gateway/CLI.h"
#include "core/gateway/Status.h"
#include "core/platform/DisplayText.h"
#include "core/platform/ReduceMotion.h"
#include "core/platform/SecretStore.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/Disclosure.h"
#include "gui/design/ErrorBanner.h"
#include "gui/platform/Prompts.h"
#include "gui/runtimes/RuntimeSection.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/NoticeBanner.h"
#include "gui/shell/PairedPage.h"
#include "gui/shell/PresenceChip.h"
#include "gui/shell/WindowHeader.h"

#include "BlockingSecretStore.h"
#include "SimGateway.h"
#include "SimTool.h"
#include "StallProbe.h"
#include "TempHome.h"
#include "WindowTestSetUp.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include <signal.h>

using namespace std::chrono_literals;

// Bad answers from the gateway and the companion tool with the whole window
// up: the window stays responsive, says why where a user looks, loses
// nothing it stored, and comes back by itself on the next pass once the
// fault is gone.
namespace {

const QString kCommands = QStringLiteral("/api/workspaces/ws-demo/*");

// Waits for two more passes of a loop: the second one started after the last change.
void twoPasses(const QSignalSpy& passes, int timeoutMs)
{
    StallProbe::shared().reset();
    const qsizetype before = passes.size();
    QTRY_VERIFY_WITH_TIMEOUT(passes.size() >= before + 2, timeoutMs);
}

// Every file under ~/.tolvarine with its content.
QMap<QString, QByteArray> stored(const TempHome& home)
{
    QMap<QString, QByteArray> out;
    const QString root = home.filePath(QStringLiteral(".tolvarine"));
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            out.insert(f.fileName().mid(root.size()), f.readAll());
    }
    return out;
}

// Nothing stored before is gone, the pairing files are as they were and every JSON file parses.
void verifyNothingLost(const QMap<QString, QByteArray>& before, const QMap<QString, QByteArray>& after)
{
    for (auto it = before.constBegin(); it != before.constEnd(); ++it) {
        QVERIFY2(after.contains(it.key()), qPrintable(it.key()));
        if (it.key().startsWith(QLatin1String("/workspaces/")) || it.key() == QLatin1String("/config.json"))
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
    }
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (!it.key().endsWith(QLatin1String(".json")))
            continue;
        QJsonParseError error;
        QJsonDocument::fromJson(it.value(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(it.key()));
    }
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void gateway_data();
    void gateway();
    void tool_data();
    void tool();

private:
    std::unique_ptr<SimWorld> m_world;
    std::optional<WindowTestSetUp<>> m_setUp;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestFaults::init()
{
    m_setUp.emplace();
    m_prompts = m_setUp->prompts();
    m_world = std::make_unique<SimWorld>();
    QVERIFY2(m_world->sim->ok(), m_world->sim->output().constData());
    m_world->pair();
}

void TestFaults::cleanup()
{
    m_world.reset();
    m_setUp.reset();
}

void TestFaults::gateway_data()
{
    QTest::addColumn<QString>("fault"); // "stop", "close", or a status for the gateway's routes
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QString>("shown"); // what the presence chip says inside its brackets

    const QString unreachable = QStringLiteral("连不上网关");
    const QString garbled = QStringLiteral("网关的回复格式不对");
    QTest::newRow("down") << QStringLiteral("stop") << 0 << QByteArray() << 0 << unreachable;
    QTest::newRow("refusing") << QStringLiteral("close") << 0 << QByteArray() << 0 << unreachable;
    QTest::newRow("slower than the time-out")
        << QString() << 0 << QByteArray() << 6000 << QStringLiteral("网关 4 秒内没有回复");
    QTest::newRow("html") << QString() << 200 << QByteArray("<html><body>Bad Gateway</body></html>") << 0 << garbled;
    QTest::newRow("not an object") << QString() << 200 << QByteArray("[1, 2, 3]") << 0 << garbled;
    QTest::newRow("wrong types") << QString() << 200 << QByteArray(R"({"commands": "all", "runners": 7})") << 0
                                 << garbled;
    QTest::newRow("401") << QString() << 401 << QByteArray(R"({"error": "访问令牌不对", "code": "unauthorized"})") << 0
                         << QStringLiteral("访问令牌不对");
    QTest::newRow("500 without a body") << QString() << 500 << QByteArray() << 0 << QStringLiteral("网关回了 500");
    // What the gateway echoes of the request shows without the token; a long message is cut.
    QTest::newRow("401 echoing the token")
        << QString() << 401 << QByteArray(R"({"error": "token demo-token refused, Authorization: Bearer demo-token"})")
        << 0 << QStringLiteral("token **** refused, Authorization: Bearer ****");
    QTest::newRow("1 MB message") << QString() << 500
                                  << QByteArray(R"({"error": ")") + QByteArray(1 << 20, 'e') + QByteArray(R"("})") << 0
                                  << QString(DisplayText::kTextLength, QLatin1Char('e')) + QStringLiteral("…");
    // The token does not follow a redirect to another origin.
    QTest::newRow("redirect elsewhere") << QString() << 302 << QByteArray("{other}/api/workspaces/ws-demo/commands")
                                        << 0 << QStringLiteral("网关回了 302");
}

void TestFaults::gateway()
{
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, delayMs);
    QFETCH(QString, shown);

    MainWindow w(MainWindow::Intervals { 200ms, std::chrono::hours(1) });
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    QSignalSpy polled(w.controller(), &WindowController::pollPassFinished);
    w.show();
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 10000);
    // A full pass has published what the gateway says when all is well.
    QTRY_VERIFY_WITH_TIMEOUT(polled.size() >= 1, 10000);
    PresenceChip* chip = w.header()->presenceChip();
    const QString healthy = chip->text();
    QVERIFY(!w.controller()->status()->commandsError());
    const qsizetype workspaces = w.controller()->catalog()->records().size();
    const QMap<QString, QByteArray> before = stored(m_world->home);

    // A redirect goes to another gateway, which must never see the request (nor its token).
    std::unique_ptr<SimGateway> other;
    if (body.startsWith("{other}")) {
        other = std::make_unique<SimGateway>();
        QVERIFY(other->ok());
        body.replace("{other}", other->origin().toUtf8());
    }
    const quint16 port = m_world->sim->port();
    const qint64 pid = m_world->sim->pid();
    if (fault == QLatin1String("stop"))
        QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
    else if (fault == QLatin1String("close"))
        m_world->sim.reset();
    else
        m_world->sim->setFault("GET", kCommands, status, body, delayMs);

    twoPasses(polled, 30000);
    StallProbe::shared().verifyNoStall();
    QVERIFY2(chip->text().startsWith(QStringLiteral("读不到状态（") + shown), qPrintable(chip->text().left(300)));
    QVERIFY(chip->text().size() < DisplayText::kTextLength + 100);
    QVERIFY(!chip->text().contains(QStringLiteral("demo-token")));
    QVERIFY(w.controller()->status()->commandsError());
    QCOMPARE(w.controller()->catalog()->records().size(), workspaces);

    // The fault goes; the next pass clears the error by itself.
    if (fault == QLatin1String("stop"))
        QCOMPARE(::kill(pid_t(pid), SIGCONT), 0);
    else if (fault == QLatin1String("close"))
        m_world->sim = std::make_unique<SimGateway>(Sim::scenario(QStringLiteral("demo.json")), port);
    else
        m_world->sim->clearFaults();
    QVERIFY(m_world->sim->ok());
    if (other)
        QCOMPARE(other->requests().size(), 0);
    twoPasses(polled, 30000);
    QCOMPARE(chip->text(), healthy);
    QVERIFY(!w.controller()->status()->commandsError());
    StallProbe::shared().verifyNoStall();
    verifyNothingLost(before, stored(m_world->home));
}

void TestFaults::tool_data()
{
    QTest::addColumn<QString>("fault"); // "missing", "not executable", or steering of every command
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QString>("notice"); // the pairing's notice starts with it
    QTest::addColumn<QString>("failure"); // the runtime inventory's failure starts with it

    const QString failed = QStringLiteral("配对失败：");
    const QString missing = CLI::NotFound::description();
    const QString inventory = QStringLiteral("brenlow runtimes --json 退出码 ");
    QTest::newRow("missing") << QStringLiteral("missing") << QByteArray() << 0 << 0 << missing << missing;
    QTest::newRow("not executable") << QStringLiteral("not executable") << QByteArray() << 0 << 0 << missing << missing;
    QTest::newRow("hung") << QString() << QByteArray() << 0 << 30000
                          << failed + CLI::timedOutText({ QStringLiteral("pair") }, 1s)
                          << CLI::timedOutText({ QStringLiteral("runtimes") }, 1s);
    // Undecodable bytes come out as replacement characters.
    QTest::newRow("non-zero with output")
        << QString() << QByteArray("error: the daemon socket \xff\xfe is gone\n") << 3 << 0
        << failed + QStringLiteral("error: the daemon socket \uFFFD\uFFFD is gone")
        << inventory + QStringLiteral("3：error: the daemon socket \uFFFD\uFFFD is gone");
    QTest::newRow("non-zero without output")
        << QString() << QByteArray() << 3 << 0 << failed + QStringLiteral("brenlow pair 退出码 3：（一个字都没输出）")
        << inventory + QStringLiteral("3：（一个字都没输出）");
    QTest::newRow("10 MB") << QString() << QByteArray(10 * 1024 * 1024, 'x') << 2 << 0 << failed + QByteArray(200, 'x')
                           << inventory + QStringLiteral("2：") + QString(400, QLatin1Char('x'));
}

void TestFaults::tool()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, output);
    QFETCH(int, code);
    QFETCH(int, delayMs);
    QFETCH(QString, notice);
    QFETCH(QString, failure);

    m_prompts->folderAnswers = { m_world->home.filePath(QStringLiteral("projects/new")) };
    QVERIFY(QDir().mkpath(*m_prompts->folderAnswers.first()));
    qputenv("BRENLOW_SIM_PAIR_WS", "ws-new");

    MainWindow w(MainWindow::Intervals { std::chrono::hours(1), 200ms });
    w.controller()->setPairTimeLimit(1s);
    w.controller()->inventory()->setTimeLimit(1s);
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    QSignalSpy refreshed(w.controller()->inventory(), &RuntimeInventoryStore::refreshed);
    QSignalSpy paired(w.controller(), &WindowController::pairingFinished);
    w.show();
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 10000);
    QTRY_VERIFY(refreshed.size() >= 1);
    QVERIFY(!w.controller()->inventory()->failure());
    const QMap<QString, QByteArray> before = stored(m_world->home);

    const QStringList commands { QStringLiteral("pair"), QStringLiteral("runtimes") };
    const bool noTool = fault == QLatin1String("missing") || fault == QLatin1String("not executable");
    if (noTool) {
        QVERIFY(QFile::remove(m_world->tool.exe()));
        if (fault == QLatin1String("not executable"))
            m_world->home.writeFile(QStringLiteral(".local/bin/brenlow"), "#!/bin/sh\nexit 0\n");
    }
    for (const QString& command : commands) {
        if (delayMs > 0)
            m_world->tool.put(command + QStringLiteral(".delay_ms"), QByteArray::number(delayMs));
        else if (!noTool)
            m_world->tool.answer(command, output, code);
    }

    StallProbe::shared().reset();
    // The pairing says why in its notice.
    w.pickFolderAndPair();
    QTRY_COMPARE_WITH_TIMEOUT(paired.size(), 1, 15000);
    QVERIFY2(w.noticeBanner()->isVisible() && w.noticeBanner()->isError(), qPrintable(w.noticeBanner()->text()));
    QVERIFY2(w.noticeBanner()->text().startsWith(notice), qPrintable(w.noticeBanner()->text().left(300)));
    QVERIFY(w.noticeBanner()->text().size() < 500);
    // The next service pass's inventory says why too.
    const qsizetype passes = refreshed.size();
    QTRY_VERIFY_WITH_TIMEOUT(refreshed.size() >= passes + 2, 15000);
    const QString shown = w.controller()->inventory()->failure().value_or(QString());
    QVERIFY2(shown.startsWith(failure), qPrintable(shown.left(500)));
    QVERIFY(shown.size() < 1000);
    // The runtime section shows it under its own words.
    auto* banner = w.pairedPage()->section(PairedPage::Runtime)->findChild<ErrorBanner*>();
    QVERIFY(banner);
    QTRY_VERIFY(banner->isVisible());
    QCOMPARE(banner->evidenceLabel()->text(), shown);
    // However long and unbroken, the notice and the evidence wrap inside the page: it never scrolls sideways.
    banner->evidenceFold()->setExpanded(true);
    QTRY_VERIFY(banner->evidenceLabel()->isVisible());
    QTRY_COMPARE(w.scrollArea()->horizontalScrollBar()->maximum(), 0);
    QVERIFY2(w.scrollArea()->widget()->minimumSizeHint().width() <= w.scrollArea()->viewport()->width(),
        qPrintable(QString::number(w.scrollArea()->widget()->minimumSizeHint().width())));
    StallProbe::shared().verifyNoStall();

    // The tool is fixed; the next pass clears the failure by itself.
    if (noTool) {
        QFile::remove(m_world->tool.exe());
        m_world->home.installTool(Sim::companion());
    }
    for (const QString& command : commands) {
        for (const char* steering : { ".delay_ms", ".out", ".code" })
            m_world->tool.drop(command + QLatin1String(steering));
    }
    twoPasses(refreshed, 15000);
    QVERIFY2(!w.controller()->inventory()->failure(), qPrintable(w.controller()->inventory()->failure().value_or("")));
    QVERIFY(!w.controller()->inventory()->rows().isEmpty());
    QTRY_VERIFY(!banner->isVisible());
    StallProbe::shared().verifyNoStall();
    verifyNothingLost(before, stored(m_world->home));
}

QTEST_MAIN(TestFaults)
#include "tst_Faults.moc"
