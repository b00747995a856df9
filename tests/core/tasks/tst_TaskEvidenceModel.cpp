// The evidence fetch loop against the stand-in gateway (what it requests and
// when, what it keeps of a run that was ended), the snapshot file it writes,
// and how the artifact sheet reads a failed fetch.
#include "core/gateway/Status.h"
#include "core/platform/JsonFile.h"
#include "core/tasks/EvidenceSnapshotFile.h"
#include "core/tasks/EvidenceText.h"
#include "core/tasks/TaskEvidenceModel.h"

#include "SimGateway.h"
#include "TempHome.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <QCoroTask>

#include <sys/stat.h>

namespace {

const QString kWs = QStringLiteral("ws-t");
const QString kApi = QStringLiteral("/api/workspaces/ws-t/commands/");

QJsonObject workspaceState()
{
    QJsonObject ws = QJsonDocument::fromJson(R"({
      "commands": [
        {"id":"c-live","text":"重写结算接口","status":"claimed","claimed_by":"dev-a","employee_id":"emp-1",
         "execution_id":"exec-1234567890"},
        {"id":"c-done","text":"加分页","status":"done","claimed_by":"dev-b","summary":"好了"}
      ],
      "employees": [{"id":"emp-1","name":"林小满","status":"working","template":{"name":"AI Developer","role":"后端"}}],
      "progress": {
        "c-live": [{"seq":1,"action":"读取 a.php"},{"seq":2,"action":"修改 a.php"}],
        "c-done": [{"seq":1,"action":"全部通过"}]
      },
      "changes": {
        "c-done": {"has_changes":true,"changes_state":"final","changes":{"files":[
          {"path":"src/a.php","added":3,"hunk":"@@ -1 +1,3 @@","hash":"h1","size":2048},
          {"path":"b.txt","hash":"h2","size":5},
          {"path":"out/\u202Egnp.exe","hash":"h3","size":1},
          {"path":"c.bin","binary":true}
        ]}}
      }
    })")
                         .object();
    ws.insert(QStringLiteral("workspace"), kWs);
    ws.insert(QStringLiteral("token"), QStringLiteral("tok-t"));
    return ws;
}

int count(const QJsonArray& log, const QString& path)
{
    return int(matching(log, QStringLiteral("GET"), path).size());
}

QJsonObject readSnapshot()
{
    QFile f(EvidenceSnapshotFile::path());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

void waitWritten()
{
    QTRY_VERIFY(EvidenceSnapshotFile::shared().idle());
}

} // namespace

class TestTaskEvidenceModel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void pollsWhileLiveOnceOtherwise();
    void finishingDropsTheRunInFlight();
    void originGoesWithItsWorkspace();
    void snapshotFile_data();
    void snapshotFile();
    void snapshotFileKeepsTheNewest();
    void snapshotLeavesOutAnEntryTooLargeForIt();
    void snapshotLeavesOutTheOldest_data();
    void snapshotLeavesOutTheOldest();
    void artifactFailures_data();
    void artifactFailures();

private:
    CommandBrief command(const QString& id) const;

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimGateway> m_sim;
    std::unique_ptr<Status> m_status;
    CLIConfig m_cfg;
};

void TestTaskEvidenceModel::init()
{
    m_home = std::make_unique<TempHome>();
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    m_sim->control("PUT", QStringLiteral("/_sim/state/") + kWs, workspaceState());
    QCOMPARE(m_sim->lastStatus(), 200);
    m_cfg = m_sim->config(kWs);
    m_cfg.device = QStringLiteral("dev-a");
    m_status = std::make_unique<Status>();
    QCoro::waitFor(m_status->reload(m_cfg));
    QCOMPARE(m_status->commands().size(), 2);
    m_sim->clearRequests();
}

void TestTaskEvidenceModel::cleanup()
{
    waitWritten();
    m_status.reset();
    m_sim.reset();
    m_home.reset();
}

CommandBrief TestTaskEvidenceModel::command(const QString& id) const
{
    for (const CommandBrief& c : m_status->commands())
        if (c.id == id)
            return c;
    return {};
}

void TestTaskEvidenceModel::pollsWhileLiveOnceOtherwise()
{
    TaskEvidenceModel live(command("c-live"), m_cfg, m_status.get());
    TaskEvidenceModel done(command("c-done"), m_cfg, m_status.get());
    // What each live fetch left: its progress error and the tail's length.
    QList<std::pair<QString, qsizetype>> beats;
    connect(&live, &TaskEvidenceModel::fetched, this, [&] {
        beats.append({ live.progressError().value_or(QString()), live.progressTail().size() });
    });
    QElapsedTimer sinceFirst;
    connect(&live, &TaskEvidenceModel::fetched, this, [&] {
        if (!sinceFirst.isValid())
            sinceFirst.start();
    });
    live.setActive(true);
    done.setActive(true);
    QTRY_COMPARE(beats.size(), 1);
    QTRY_COMPARE(done.polls(), 1);
    // The next progress request fails once: the tail stays, the error shows until a later success.
    m_sim->setFault("GET", kApi + "c-live/progress", 500, R"({"error":"进度库忙"})", 0, 1);
    // Nothing before the two seconds are up (a loaded machine may take longer than that to come back here).
    QTest::qWait(1000);
    QVERIFY(live.polls() == 1 || sinceFirst.elapsed() >= 2000);

    // A finished command: one fetch, no progress; a retry fetches again.
    waitWritten();
    QJsonObject entry = readSnapshot().value("c-done").toObject();
    QCOMPARE(entry.value("mode").toString(), QStringLiteral("replay"));
    QCOMPARE(entry.value("state").toString(), QStringLiteral("artifacts"));
    QCOMPARE(entry.value("polls").toInt(), 1);
    QCOMPARE(entry.value("changes_state").toString(), QStringLiteral("final"));
    QVERIFY(!entry.contains("why"));
    // The binary file is left out; paths are the gateway's, not as shown.
    QCOMPARE(entry.value("files").toArray(),
        QJsonArray({ QJsonObject { { "path", "src/a.php" }, { "hash", "h1" }, { "size", 2048 }, { "has_hunk", true } },
            QJsonObject { { "path", "b.txt" }, { "hash", "h2" }, { "size", 5 }, { "has_hunk", false } },
            QJsonObject { { "path", QStringLiteral("out/\u202Egnp.exe") }, { "hash", "h3" }, { "size", 1 },
                { "has_hunk", false } } }));
    // A second press while the retry's answer is out (a double click) fetches nothing more.
    done.retry();
    QVERIFY(done.retrying());
    done.retry();
    QTRY_COMPARE(done.polls(), 2);
    QVERIFY(!done.retrying());

    // The live command: a fetch with the progress tail every two seconds.
    QTRY_VERIFY(beats.size() >= 3);
    QCOMPARE(beats.at(0), std::make_pair(QString(), qsizetype(2)));
    QVERIFY2(beats.at(1).first.contains(QStringLiteral("进度库忙")), qPrintable(beats.at(1).first));
    QCOMPARE(beats.at(1).second, 2);
    QCOMPARE(beats.at(2), std::make_pair(QString(), qsizetype(2)));

    const QJsonArray log = m_sim->requests();
    QCOMPARE(count(log, kApi + "c-done/changes"), 2);
    QCOMPARE(count(log, kApi + "c-done/progress"), 0);
    const QJsonArray progress = matching(log, "GET", kApi + "c-live/progress");
    QVERIFY(progress.size() >= 3);
    for (const QJsonValue& r : progress)
        QCOMPARE(r.toObject().value("query").toString(), QStringLiteral("limit=30"));
    waitWritten();
    entry = readSnapshot().value("c-live").toObject();
    QCOMPARE(entry.value("mode").toString(), QStringLiteral("live"));
    QVERIFY(entry.value("polls").toInt() >= 3);
    QCOMPARE(entry.value("origin").toString(), QStringLiteral("林小满 · 这台电脑 · execution exec-123"));
    QCOMPARE(entry.value("state").toString(), QStringLiteral("no_artifacts"));
}

void TestTaskEvidenceModel::finishingDropsTheRunInFlight()
{
    // The first change summary is slow; the command finishes meanwhile.
    m_sim->setFault("GET", kApi + "c-live/changes", 0, {}, 1200, 1);
    TaskEvidenceModel model(command("c-live"), m_cfg, m_status.get());
    model.setActive(true);
    QTRY_COMPARE(count(m_sim->requests(), kApi + "c-live/changes"), 1);
    // Hidden and shown again while that fetch is out: it is not asked a second time beside it.
    for (int i = 0; i < 3; ++i) {
        model.setActive(false);
        model.setActive(true);
    }
    QTest::qWait(200);
    QCOMPARE(count(m_sim->requests(), kApi + "c-live/changes"), 1);
    CommandBrief finished = command("c-live");
    finished.status = QStringLiteral("done");
    model.setCommand(finished);

    QTRY_COMPARE(model.polls(), 1);
    // The slow answer arrives and is dropped; nothing more is fetched.
    QTest::qWait(2500);
    QCOMPARE(model.polls(), 1);
    QVERIFY(!model.progressError());
    const QJsonArray log = m_sim->requests();
    QCOMPARE(count(log, kApi + "c-live/changes"), 2);
    QCOMPARE(count(log, kApi + "c-live/progress"), 0);
    waitWritten();
    const QJsonObject entry = readSnapshot().value("c-live").toObject();
    QCOMPARE(entry.value("mode").toString(), QStringLiteral("replay"));
    QCOMPARE(entry.value("polls").toInt(), 1);
    QCOMPARE(entry.value("state").toString(), QStringLiteral("no_artifacts"));

    // A fresh command value with the same status fetches nothing.
    finished.summary = QStringLiteral("做完了");
    model.setCommand(finished);
    QTest::qWait(300);
    QCOMPARE(count(m_sim->requests(), kApi + "c-live/changes"), 2);
}

// A command's origin line names this machine and the employee as the
// command's own workspace does, also once the status model shows another
// workspace whose roster has an employee with the same id (the fetch in flight
// at the switch writes it to the snapshot file).
void TestTaskEvidenceModel::originGoesWithItsWorkspace()
{
    QJsonObject other = workspaceState();
    other.insert(QStringLiteral("workspace"), QStringLiteral("ws-u"));
    other.insert(QStringLiteral("token"), QStringLiteral("tok-u"));
    other.insert(QStringLiteral("employees"),
        QJsonDocument::fromJson(
            R"([{"id":"emp-1","name":"周一鸣","status":"working","template":{"name":"AI Developer","role":"后端"}}])")
            .array());
    m_sim->control("PUT", QStringLiteral("/_sim/state/ws-u"), other);
    QCOMPARE(m_sim->lastStatus(), 200);
    CLIConfig otherCfg = m_sim->config(QStringLiteral("ws-u"));
    otherCfg.device = QStringLiteral("dev-u");

    const QString own = QStringLiteral("林小满 · 这台电脑 · execution exec-123");
    m_sim->setFault("GET", kApi + "c-live/changes", 0, {}, 1200, 1);
    TaskEvidenceModel model(command("c-live"), m_cfg, m_status.get());
    QCOMPARE(model.originLine(), own);
    model.setActive(true);
    QTRY_COMPARE(count(m_sim->requests(), kApi + "c-live/changes"), 1);

    QCoro::waitFor(m_status->reload(otherCfg));
    QVERIFY2(!m_status->teamError(), qPrintable(m_status->teamError().value_or(QString())));
    QCOMPARE(m_status->team().value(0).name, QStringLiteral("周一鸣"));
    const QString elsewhere = QStringLiteral("这台电脑 · execution exec-123");
    QCOMPARE(model.originLine(), elsewhere);
    QTRY_COMPARE(model.polls(), 1);
    waitWritten();
    QCOMPARE(readSnapshot().value("c-live").toObject().value("origin").toString(), elsewhere);

    QCoro::waitFor(m_status->reload(m_cfg));
    QCOMPARE(model.originLine(), own);
}

void TestTaskEvidenceModel::snapshotFile_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("missing") << QByteArray() << QStringList { "c-x" };
    QTest::newRow("array") << QByteArray("[1, 2]") << QStringList { "c-x" };
    QTest::newRow("garbage") << QByteArray("{\"c-y\": ") << QStringList { "c-x" };
    QTest::newRow("other entries kept") << QByteArray(R"({"c-y":{"command":"c-y"},"c-x":{"polls":9}})")
                                        << QStringList { "c-x", "c-y" };
    // Whole, but far too large to be read each time.
    QTest::newRow("50 MB") << QByteArray(R"({"c-y":{}})") + QByteArray(50 * 1024 * 1024, ' ') << QStringList { "c-x" };
    // Reading it would wait for a writer for ever.
    QTest::newRow("a named pipe") << QByteArray("fifo") << QStringList { "c-x" };
}

void TestTaskEvidenceModel::snapshotFile()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, after);
    if (before == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(EvidenceSnapshotFile::path()).constData(), 0600) == 0);
    else if (!before.isEmpty())
        m_home->writeFile(QStringLiteral(".tolvarine/desktop_evidence.json"), before);
    // The product home does not move the snapshot.
    QTemporaryDir product;
    qputenv("TOLVARINE_HOME", QFile::encodeName(product.path()));

    CommandBrief c;
    c.id = QStringLiteral("c-x");
    c.status = QStringLiteral("done");
    TaskEvidenceModel model(c, std::nullopt, m_status.get());
    QSignalSpy fetched(&model, &TaskEvidenceModel::fetched);
    model.setActive(true);
    QTRY_COMPARE(fetched.size(), 1);
    waitWritten();
    qunsetenv("TOLVARINE_HOME");

    QVERIFY(!QFile::exists(product.filePath(QStringLiteral(".tolvarine/desktop_evidence.json"))));
    const QJsonObject file = readSnapshot();
    QStringList keys = file.keys();
    QCOMPARE(keys, after);
    const QJsonObject entry = file.value("c-x").toObject();
    QCOMPARE(entry.value("state").toString(), QStringLiteral("failed"));
    QCOMPARE(entry.value("why").toString(), QStringLiteral("这台电脑上还没有工作区"));
    QCOMPARE(entry.value("files").toArray(), QJsonArray());
    QCOMPARE(entry.value("polls").toInt(), 1);
    QCOMPARE(entry.value("origin").toString(), QStringLiteral("来源未知（服务端没给员工 / 设备 / execution）"));
}

// Grown past what is read back, the file loses its oldest entries, not all of them.
void TestTaskEvidenceModel::snapshotFileKeepsTheNewest()
{
    // About 1 MB each: four fit, five do not.
    const auto entry = [](const QString& id, int polls) {
        return QJsonObject { { "command", id }, { "polls", polls }, { "origin", QString(1000 * 1000, 'x') } };
    };
    m_home->writeFile(QStringLiteral(".tolvarine/desktop_evidence.json"),
        QJsonDocument(QJsonObject { { "old-a", entry("old-a", 1) }, { "old-b", entry("old-b", 1) } }).toJson());
    const auto put = [&](const QString& id, int polls) {
        EvidenceSnapshotFile::shared().put(id, entry(id, polls));
        waitWritten();
    };
    for (const QString id : { "c-1", "c-2", "c-3", "c-4" })
        put(id, 1);
    QCOMPARE(readSnapshot().keys(), QStringList({ "c-1", "c-2", "c-3", "c-4" }));
    // c-1 is written again, then c-5: c-2, written longest ago, gives way.
    put("c-1", 2);
    put("c-5", 1);
    QFile f(EvidenceSnapshotFile::path());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.size() <= JsonFile::kMaxStoredBytes);
    const QJsonObject file = QJsonDocument::fromJson(f.readAll()).object();
    QCOMPARE(file.keys(), QStringList({ "c-1", "c-3", "c-4", "c-5" }));
    QCOMPARE(file.value("c-1").toObject().value("polls").toInt(), 2);
}

// One entry larger than the file may be is left out; the file stays readable
// and every other command keeps its entry.
void TestTaskEvidenceModel::snapshotLeavesOutAnEntryTooLargeForIt()
{
    const auto entry = [](const QString& id, qsizetype size) {
        return QJsonObject { { "command", id }, { "origin", QString(size, 'x') } };
    };
    m_home->writeFile(QStringLiteral(".tolvarine/desktop_evidence.json"),
        QJsonDocument(QJsonObject { { "c-1", entry("c-1", 10) }, { "c-huge", entry("c-huge", 10) } }).toJson());
    const auto put = [&](const QString& id, qsizetype size) {
        EvidenceSnapshotFile::shared().put(id, entry(id, size));
        waitWritten();
    };
    put("c-huge", JsonFile::kMaxStoredBytes + 1);
    put("c-2", 10);
    const JsonFile::Stored stored = JsonFile::readStored(EvidenceSnapshotFile::path());
    QVERIFY(stored.state == JsonFile::Stored::State::Read);
    QCOMPARE(QJsonDocument::fromJson(stored.data).object().keys(), QStringList({ "c-1", "c-2" }));
}

void TestTaskEvidenceModel::snapshotLeavesOutTheOldest_data()
{
    QTest::addColumn<QStringList>("inFile");
    QTest::addColumn<QStringList>("written");
    // Ids in the order they were put, oldest first.
    QTest::addColumn<QStringList>("puts");
    // How many entries the limit has room for, exactly.
    QTest::addColumn<int>("room");
    QTest::addColumn<QStringList>("kept");
    QTest::newRow("room for all") << QStringList { "a", "b" } << QStringList { "c" } << QStringList { "c" } << 3
                                  << QStringList { "a", "b", "c" };
    QTest::newRow("never put go first") << QStringList { "a", "b", "c" } << QStringList { "d" }
                                        << QStringList { "c", "d" } << 2 << QStringList { "c", "d" };
    QTest::newRow("the longest ago goes") << QStringList { "a", "b", "c" } << QStringList { "d" }
                                          << QStringList { "b", "c", "a", "d" } << 3 << QStringList { "a", "c", "d" };
    QTest::newRow("the newest of the batch")
        << QStringList { "a" } << QStringList { "b", "c" } << QStringList { "c", "b" } << 1 << QStringList { "b" };
    // Written alone it would make a file the reader refuses.
    QTest::newRow("the newest alone, too large for the file")
        << QStringList { "a" } << QStringList { "b" } << QStringList { "a", "b" } << 0 << QStringList {};
}

void TestTaskEvidenceModel::snapshotLeavesOutTheOldest()
{
    QFETCH(QStringList, inFile);
    QFETCH(QStringList, written);
    QFETCH(QStringList, puts);
    QFETCH(int, room);
    QFETCH(QStringList, kept);
    const QJsonObject entry { { "origin", QString(100, 'x') } };
    const auto object = [&](const QStringList& ids) {
        QJsonObject out;
        for (const QString& id : ids)
            out.insert(id, entry);
        return out;
    };
    QHash<QString, QJsonObject> entries;
    for (const QString& id : written)
        entries.insert(id, entry);
    QHash<QString, quint64> recency;
    for (int i = 0; i < puts.size(); ++i)
        recency.insert(puts.at(i), quint64(i + 1));
    // The ids are all one letter long, so any `room` of them make the same bytes.
    const qint64 limit
        = room > 0 ? QJsonDocument(object(QStringList(inFile + written).mid(0, room))).toJson().size() : 10;

    const QByteArray out
        = EvidenceSnapshotFile::merged(QJsonDocument(object(inFile)).toJson(), entries, recency, limit);
    QVERIFY(out.size() <= limit);
    QCOMPARE(QJsonDocument::fromJson(out).object(), object(kept));
}

void TestTaskEvidenceModel::artifactFailures_data()
{
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<bool>("retryable");
    QTest::addColumn<QString>("text");
    const QString notFound
        = QStringLiteral("服务器上没有这份内容。可能是工作区搬过家、内容已被清理，或者它不属于当前工作区。");
    QTest::newRow("404 with a message") << Failure::gateway(GatewayError::fromReply(404, R"({"error":"没有这份文件"})"))
                                        << false << notFound;
    QTest::newRow("500 naming 404") << Failure::gateway(GatewayError::fromReply(500, R"({"error":"上游回了 404"})"))
                                    << true << QStringLiteral("取内容失败：上游回了 404");
    QTest::newRow("unreachable on port 40404")
        << Failure::tolvarine(-2, QStringLiteral("连不上网关。试过：http://127.0.0.1:40404")) << true
        << QStringLiteral("取内容失败：连不上网关。试过：http://127.0.0.1:40404");
    // A binary artifact (a PNG) is a file this view does not render: nothing to retry.
    QTest::newRow("not text") << Failure::decoding(QStringLiteral("这份文件不是 UTF-8 文本，这里渲染不了")) << false
                              << QStringLiteral("二进制文件，这里不渲染");
}

void TestTaskEvidenceModel::artifactFailures()
{
    QFETCH(Failure, failure);
    QFETCH(bool, retryable);
    QFETCH(QString, text);
    const EvidenceText::ArtifactFailure shown = EvidenceText::artifactFailure(failure);
    QCOMPARE(shown.retryable, retryable);
    QCOMPARE(shown.text, text);
}

QTEST_GUILESS_MAIN(TestTaskEvidenceModel)
#include "tst_TaskEvidenceModel.moc"
