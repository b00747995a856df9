#include "core/agents/AdvancedAccess.h"
#include "core/agents/AdvancedConnectionStore.h"
#include "core/platform/JsonFile.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeController.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QCoroTask>
#include <QDir>
#include <QJsonArray>
#include <QtTest>

namespace {

bool hasLine(const QStringList& lines, const QString& part)
{
    return !lines.filter(part).isEmpty();
}

} // namespace

// Custom connections: the store, and their workers as real children (the
// stand-in tool's "run") under the kind "generic". A damaged file is covered
// by tst_BadStoredFiles.
class TestAdvancedAccess : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void addAndStore_data();
    void addAndStore();
    void startStopAndRemove();

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    std::unique_ptr<RuntimeController> m_runtimes;
    std::unique_ptr<AdvancedAccess> m_access;
    std::optional<CLIConfig> m_cfg;
};

void TestAdvancedAccess::init()
{
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    m_tool->put(QStringLiteral("run.interval_ms"), "50");
    m_runtimes = std::make_unique<RuntimeController>();
    m_runtimes->setStopGraceSeconds(2);
    CLIConfig c;
    c.api = QStringLiteral("http://127.0.0.1:1");
    c.workspace = QStringLiteral("ws-a");
    c.token = QStringLiteral("tok-a");
    c.path = m_home->filePath(QStringLiteral("project"));
    QDir().mkpath(*c.path);
    m_cfg = c;
    m_access = std::make_unique<AdvancedAccess>(*m_runtimes, [this] { return m_cfg; });
}

void TestAdvancedAccess::cleanup()
{
    m_access.reset();
    m_runtimes->stopAll();
    m_runtimes.reset();
    m_tool.reset();
    m_home.reset();
}

void TestAdvancedAccess::addAndStore_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("words"); // empty: refused
    QTest::addColumn<QString>("problem");
    // Double quotes group; nothing is expanded.
    QTest::newRow("quoted program") << " 评审 "
                                    << R"("/opt/my agent/$HOME")" << QStringList { "/opt/my agent/$HOME" } << QString();
    // The worker starts the program alone, so arguments are refused rather than dropped.
    QTest::newRow("arguments") << "评审"
                               << R"("my agent" --stdio "a b")" << QStringList {}
                               << QStringLiteral("只能填要启动的程序，不能带参数：「--stdio a b」传不到它那里。"
                                                 "把参数去掉再添加；程序路径里有空格的话，用双引号把整条路径括起来。");
    // A quote left open would make the rest of the line one word, or vanish at its end.
    const QString openQuote
        = QStringLiteral("双引号没有成对：有一个 \" 没配上另一半，看不出程序路径到哪里为止。"
                         "补上或去掉它再添加；程序路径里有空格的话，用一对双引号把整条路径括起来。");
    QTest::newRow("open quote") << "x"
                                << R"("/tmp/unbalanced agent)" << QStringList {} << openQuote;
    QTest::newRow("lone quote at the end") << "x"
                                           << R"(/tmp/agent")" << QStringList {} << openQuote;
    QTest::newRow("open quote after a word") << "x"
                                             << R"("my agent" "--stdio)" << QStringList {} << openQuote;
    QTest::newRow("only a quote") << "x"
                                  << R"(")" << QStringList {} << openQuote;
    QTest::newRow("open quote inside") << "x"
                                       << R"(/opt/my" agent)" << QStringList {} << openQuote;
    // Three quotes in a row stand for one quote character.
    QTest::newRow("quoted quote") << "x"
                                  << R"("/opt/a"""b")" << QStringList { R"(/opt/a"b)" } << QString();
    QTest::newRow("empty pair") << "x"
                                << R"(/opt/""agent)" << QStringList { "/opt/agent" } << QString();
    QTest::newRow("no name") << " "
                             << "agent" << QStringList {} << QStringLiteral("给它起个名字");
    QTest::newRow("no command") << "x"
                                << "  " << QStringList {} << QStringLiteral("填上启动它的命令");
}

void TestAdvancedAccess::addAndStore()
{
    QFETCH(QString, name);
    QFETCH(QString, command);
    QFETCH(QStringList, words);
    QFETCH(QString, problem);
    const QString error = QCoro::waitFor(m_access->add(name, command));
    QCOMPARE(error.isEmpty(), !words.isEmpty());
    QCOMPARE(error, problem);
    if (words.isEmpty()) {
        QVERIFY(m_access->connections().isEmpty());
        QVERIFY(!QFile::exists(AdvancedConnectionStore::filePath()));
        return;
    }
    const AdvancedConnection c = m_access->connections().value(0);
    QCOMPARE(c.name, name.trimmed());
    QCOMPARE(c.words(), words);
    // What the file holds reads back the same, and only its owner may read it.
    QCOMPARE(m_access->connections().size(), 1);
    QCOMPARE(AdvancedConnectionStore::load(), m_access->connections());
    QCOMPARE(QFile::permissions(AdvancedConnectionStore::filePath()) & 0x0FFF,
        QFileDevice::ReadUser | QFileDevice::WriteUser);
    const QJsonObject stored = JsonFile::read(AdvancedConnectionStore::filePath())->array().at(0).toObject();
    QCOMPARE(QStringList(stored.keys()), (QStringList { "command", "createdAt", "id", "kind", "name" }));
    QCOMPARE(stored.value("kind").toString(), QStringLiteral("generic"));
}

void TestAdvancedAccess::startStopAndRemove()
{
    QVERIFY(QCoro::waitFor(m_access->add(QStringLiteral("Alpha"), QStringLiteral("agent-a"))).isEmpty());
    QVERIFY(QCoro::waitFor(m_access->add(QStringLiteral("Beta"), QStringLiteral("\"agent b\""))).isEmpty());
    const QUuid a = m_access->connections().at(0).id;
    const QUuid b = m_access->connections().at(1).id;
    const QString ws = m_cfg->workspace;
    const QString generic = AdvancedAccess::runtimeKind();

    m_access->launchAdvanced(a);
    QTRY_VERIFY(
        hasLine(m_runtimes->lines(ws), QStringLiteral("[Alpha] brenlow run: kind=generic runtime=agent-a ws=ws-a")));
    QCOMPARE(RuntimeChildLedger::load().size(), 1);

    // One generic worker per workspace: starting Beta ends Alpha's, which Beta can say beforehand.
    QCOMPARE(m_access->wouldStop(b), std::optional<QString>(QStringLiteral("Alpha")));
    QCOMPARE(m_access->wouldStop(a), std::nullopt);
    m_access->launchAdvanced(b);
    QVERIFY(!m_access->isAdvancedRunning(a) && m_access->isAdvancedRunning(b));
    QCOMPARE(m_access->wouldStop(a), std::optional<QString>(QStringLiteral("Beta")));
    QTRY_VERIFY(
        hasLine(m_runtimes->lines(ws), QStringLiteral("[Beta] brenlow run: kind=generic runtime=agent b ws=ws-a")));
    QTRY_VERIFY(hasLine(m_runtimes->lines(ws), QStringLiteral("[Alpha] brenlow run: stopped")));
    m_access->stopAdvanced(a);
    QVERIFY(m_runtimes->isRunning(ws, generic));
    m_access->stopAdvanced(b);
    QTRY_VERIFY(RuntimeChildLedger::load().isEmpty());
    QCOMPARE(m_access->wouldStop(a), std::nullopt);

    // Removing a running connection ends its worker first.
    m_access->launchAdvanced(a);
    QTRY_VERIFY(m_runtimes->isRunning(ws, generic));
    QVERIFY(QCoro::waitFor(m_access->remove(a)).isEmpty());
    QVERIFY(!m_runtimes->isRunning(ws, generic));
    QCOMPARE(m_access->connections().size(), 1);
    QCOMPARE(AdvancedConnectionStore::load(), m_access->connections());

    // One stored with arguments by an earlier version is kept, and starts its program.
    AdvancedConnection earlier = m_access->connections().first();
    earlier.id = QUuid::createUuid();
    earlier.name = QStringLiteral("Gamma");
    earlier.command = QStringLiteral("agent-c --stdio");
    QVERIFY(AdvancedConnectionStore::upsert(earlier));
    m_access->reload();
    QCOMPARE(m_access->connections().size(), 2);
    m_access->launchAdvanced(earlier.id);
    QTRY_VERIFY(
        hasLine(m_runtimes->lines(ws), QStringLiteral("[Gamma] brenlow run: kind=generic runtime=agent-c ws=ws-a")));
    m_access->stopAdvanced(earlier.id);

    // Without a workspace nothing starts.
    m_cfg.reset();
    QVERIFY(!m_access->canLaunch());
    m_access->launchAdvanced(b);
    QVERIFY(!m_runtimes->isRunning(ws, generic));
}

QTEST_GUILESS_MAIN(TestAdvancedAccess)
#include "tst_AdvancedAccess.moc"
