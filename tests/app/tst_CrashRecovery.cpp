#include "core/agents/AdvancedConnection.h"
#include "core/gateway/CLIConfig.h"
#include "core/providers/ProviderProfile.h"
#include "core/runtimes/ProcessSignals.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeChildRecord.h"

#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<qint32> pidsIn(const QByteArray& text)
{
    QList<qint32> out;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty())
            out.append(line.trimmed().toInt());
    }
    return out;
}

// The helper that plays the application until its SIGKILL; true when it got there.
bool runOwner(const QStringList& args, QProcess& owner)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    owner.setProcessEnvironment(env);
    owner.start(QStringLiteral(TOLVARINE_CRASH_OWNER), args);
    return owner.waitForStarted(10000);
}

// Whether the stored file decodes as what its reader expects; the reason when not.
QString damage(const QString& name, const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return error.errorString();
    const auto allOf = [](const QJsonObject& o, bool (QJsonValue::*is)() const) {
        return std::all_of(o.begin(), o.end(), [is](const QJsonValue& v) { return (v.*is)(); });
    };
    if (name == QLatin1String("desktop_children.json")) {
        if (!doc.isArray())
            return QStringLiteral("not an array");
        for (const QJsonValue& v : doc.array()) {
            if (!RuntimeChildRecord::fromJson(v.toObject()))
                return QStringLiteral("a bad record");
        }
    } else if (name == QLatin1String("provider_profiles.json")) {
        if (!ProviderProfile::decodeList(data))
            return QStringLiteral("bad profiles");
    } else if (name == QLatin1String("advanced_runtimes.json")) {
        if (!AdvancedConnection::decodeList(data))
            return QStringLiteral("bad connections");
    } else if (name == QLatin1String("runtime_enabled.json")) {
        if (!doc.isObject() || !allOf(doc.object(), &QJsonValue::isBool))
            return QStringLiteral("not an object of booleans");
    } else if (name == QLatin1String("runtime_bindings.json") || name == QLatin1String("runtime_models.json")) {
        if (!doc.isObject() || !allOf(doc.object(), &QJsonValue::isString))
            return QStringLiteral("not an object of strings");
    } else if (name == QLatin1String("desktop_runtimes.json")) {
        if (!doc.isArray())
            return QStringLiteral("not an array");
    } else if (!doc.isObject()) {
        return QStringLiteral("not an object");
    }
    return {};
}

} // namespace

class TestCrashRecovery : public QObject {
    Q_OBJECT
private slots:
    void relaunchReapsWorkersAndTheirChildren_data();
    void relaunchReapsWorkersAndTheirChildren();
    void storesParseAfterKillMidWrite();
};

void TestCrashRecovery::relaunchReapsWorkersAndTheirChildren_data()
{
    QTest::addColumn<QByteArray>("intervalMs");
    QTest::addColumn<bool>("workersOutliveOwner");
    // Quiet after their first line, the workers live on with their children.
    QTest::newRow("workers running") << QByteArray("600000") << true;
    // Writing into the dead owner's pipe ends the workers; their children live on.
    QTest::newRow("only their children running") << QByteArray("20") << false;
}

// Three workers, each with a child of its own, are left behind by the
// application's SIGKILL; the next launch of the application ends every one of
// them and empties the ledger.
void TestCrashRecovery::relaunchReapsWorkersAndTheirChildren()
{
    QFETCH(QByteArray, intervalMs);
    QFETCH(bool, workersOutliveOwner);
    TempHome home;
    SimGateway gateway;
    QVERIFY2(gateway.ok(), gateway.output().constData());
    SimTool tool(home);
    tool.put(QStringLiteral("run.child"));
    tool.put(QStringLiteral("run.interval_ms"), intervalMs);
    const QString folder = home.filePath(QStringLiteral("project"));
    QVERIFY(QDir().mkpath(folder));
    CLIConfig config = gateway.config();
    config.path = folder;
    home.writeFile(QStringLiteral(".tolvarine/config.json"), QJsonDocument(config.toJson()).toJson());

    QProcess owner;
    QVERIFY(runOwner({ QStringLiteral("workers") }, owner));
    QVERIFY(owner.waitForFinished(60000));
    QCOMPARE(owner.readAllStandardOutput().trimmed(), QByteArray("ready"));
    QCOMPARE(owner.exitStatus(), QProcess::CrashExit);

    const QList<RuntimeChildRecord> workers = RuntimeChildLedger::load();
    QCOMPARE(workers.size(), 3);
    QList<qint32> pids;
    for (const RuntimeChildRecord& r : workers) {
        pids.append(r.pid);
        if (workersOutliveOwner)
            QVERIFY(ProcessSignals::isAlive(r.pid));
        else
            QTRY_VERIFY(!ProcessSignals::isAlive(r.pid));
    }
    // The stand-in worker notes the pid of the child it started.
    const QList<qint32> children = pidsIn(readAll(home.filePath(QStringLiteral("brenlow-sim/children"))));
    QCOMPARE(children.size(), 3);
    for (const qint32 pid : children)
        QVERIFY(ProcessSignals::isAlive(pid));
    pids += children;

    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(TOLVARINE_DESKTOP));
    QVERIFY(app.waitForStarted(10000));
    QTRY_VERIFY2_WITH_TIMEOUT(TempHome::crumbs().contains(QStringLiteral("启动时收掉上一任留下的孤儿 3 个")),
        qPrintable(TempHome::crumbs()), 60000);
    for (const qint32 pid : std::as_const(pids))
        QTRY_VERIFY2(!ProcessSignals::isAlive(pid), qPrintable(QString::number(pid)));
    QCOMPARE(QJsonDocument::fromJson(readAll(RuntimeChildLedger::filePath())), QJsonDocument(QJsonArray()));

    app.terminate();
    QVERIFY(app.waitForFinished(30000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
}

// Killed at any point of a burst of writes, every store and snapshot is whole:
// either the old content or the new, never half of either.
void TestCrashRecovery::storesParseAfterKillMidWrite()
{
    TempHome home;
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("product"))));
    const QStringList homeFiles { QStringLiteral("desktop_children.json"), QStringLiteral("desktop_summary.json"),
        QStringLiteral("desktop_runtimes.json"), QStringLiteral("desktop_runtimes_raw.json"),
        QStringLiteral("desktop_runtime_actions.json") };
    const QStringList productFiles { QStringLiteral("runtime_enabled.json"), QStringLiteral("runtime_bindings.json"),
        QStringLiteral("runtime_models.json"), QStringLiteral("provider_profiles.json"),
        QStringLiteral("advanced_runtimes.json") };
    const QDir homeDir(home.filePath(QStringLiteral(".tolvarine")));
    const QDir productDir(home.filePath(QStringLiteral("product/.tolvarine")));

    for (const int delayMs : { 0, 3, 11, 29, 53, 97, 151, 240 }) {
        QProcess owner;
        QVERIFY(runOwner({ QStringLiteral("burst") }, owner));
        QTRY_VERIFY(owner.canReadLine());
        QCOMPARE(owner.readLine().trimmed(), QByteArray("writing"));
        QTest::qWait(delayMs);
        owner.kill();
        QVERIFY(owner.waitForFinished(10000));

        for (const QString& name : homeFiles + productFiles) {
            const QString path = (homeFiles.contains(name) ? homeDir : productDir).filePath(name);
            QVERIFY2(QFile::exists(path), qPrintable(path));
            const QString why = damage(name, readAll(path));
            QVERIFY2(why.isEmpty(), qPrintable(QStringLiteral("%1 after %2 ms: %3").arg(name).arg(delayMs).arg(why)));
        }
        // No store ever found the file before it undecodable.
        QVERIFY(productDir.entryList({ QStringLiteral("*.bad") }).isEmpty());
        QVERIFY(!TempHome::crumbs().contains(QStringLiteral("child.load")));
    }
}

QTEST_GUILESS_MAIN(TestCrashRecovery)
#include "tst_CrashRecovery.moc"
