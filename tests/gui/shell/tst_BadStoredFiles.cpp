#include "core/agents/AdvancedConnectionStore.h"
#include "core/gateway/CLIConfig.h"
#include "core/platform/JsonFile.h"
#include "core/platform/ReduceMotion.h"
#include "core/providers/ProviderProfile.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/RuntimeBindingStore.h"
#include "core/providers/RuntimeModelStore.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeEnablementStore.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/platform/Prompts.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/NoticeBanner.h"

#include "FullDisk.h"
#include "SimGateway.h"
#include "SimTool.h"
#include "StallProbe.h"
#include "TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };

// Which folder a file lives in.
enum class Root { Home, Product };

// A write of the store's own, as a user's action (or a worker's start) makes
// it; none for files the application only reads.
using StoreWrite = std::function<bool(QString*)>;

struct File {
    Root root;
    QString path;
    QByteArray good;
    QByteArray wrongTypes;
    StoreWrite write;
};

QByteArray pairing(const QString& api)
{
    CLIConfig c;
    c.api = api;
    c.workspace = QStringLiteral("ws-demo");
    c.token = QStringLiteral("demo-token");
    return QJsonDocument(c.toJson()).toJson();
}

QList<File> files()
{
    ProviderProfile profile;
    profile.id = QUuid::createUuid();
    profile.provider = QStringLiteral("anthropic");
    profile.name = QStringLiteral("Anthropic");
    profile.createdAt = QDateTime::fromString(QStringLiteral("2026-03-01T08:00:00Z"), Qt::ISODate);
    AdvancedConnection connection;
    connection.id = QUuid::createUuid();
    connection.name = QStringLiteral("本机 Agent");
    connection.command = QStringLiteral("agent --stdio");
    connection.createdAt = profile.createdAt;
    const QByteArray config = pairing(QStringLiteral("http://127.0.0.1:9"));
    const QByteArray badConfig = R"({"api": 1, "workspace": "ws-demo", "token": "demo-token"})";
    return {
        { Root::Home, QStringLiteral(".tolvarine/config.json"), config, badConfig, {} },
        { Root::Home, QStringLiteral(".tolvarine-protected/config.json"), config, badConfig, {} },
        { Root::Home, QStringLiteral(".tolvarine/workspaces/ws-other.json"), config, badConfig, {} },
        { Root::Home, QStringLiteral(".tolvarine/desktop_children.json"),
            R"([{"exe": "/x", "kind": "codex", "ownerPID": 1, "pid": 2, "startedAt": "2026-03-01T08:00:00Z", )"
            R"("workspace": "ws-demo"}])",
            R"([{"exe": "/x", "kind": "codex", "ownerPID": "1", "pid": 2}])",
            [](QString* error) {
                // A worker that ended: the ledger is rewritten without it.
                RuntimeChildLedger::forget(2);
                const JsonFile::Stored now = JsonFile::readStored(RuntimeChildLedger::filePath());
                *error = now.reason;
                const auto records = RuntimeChildLedger::decode(now.data);
                return now.state == JsonFile::Stored::State::Read && records && records->isEmpty();
            } },
        { Root::Product, QStringLiteral(".tolvarine/runtime_enabled.json"), R"({"codex": false})", R"({"codex": "no"})",
            [](QString* error) { return RuntimeEnablementStore::setEnabled(QStringLiteral("codex"), false, error); } },
        { Root::Product, QStringLiteral(".tolvarine/provider_profiles.json"), ProviderProfile::encodeList({ profile }),
            R"([{"id": 5}])", [profile](QString* error) { return ProviderProfileStore::upsert(profile, error); } },
        { Root::Product, QStringLiteral(".tolvarine/runtime_bindings.json"),
            QByteArray(R"({"codex": ")") + profile.id.toString(QUuid::WithoutBraces).toLatin1() + "\"}", R"(["codex"])",
            [profile](
                QString* error) { return RuntimeBindingStore::bind(QStringLiteral("codex"), profile.id, error); } },
        { Root::Product, QStringLiteral(".tolvarine/runtime_models.json"), R"({"codex": "o3"})", R"(["codex"])",
            [](QString* error) {
                return RuntimeModelStore::setModel(QStringLiteral("codex"), QStringLiteral("o4"), error);
            } },
        { Root::Product, QStringLiteral(".tolvarine/advanced_runtimes.json"),
            QJsonDocument(QJsonArray { connection.toJson() }).toJson(), R"([{"id": "x", "name": 5}])",
            [connection](QString* error) { return AdvancedConnectionStore::upsert(connection, error); } },
        // QSettings reads it whole, on the thread that opens it.
        { Root::Home, QStringLiteral(".config/Tolvarine/Tolvarine Desktop.conf"),
            "[General]\ntolvarine.desktop.workspace=ws-other\n", {}, {} },
    };
}

enum class Damage { Empty, Truncated, NotJson, WrongTypes, Huge, Unreadable, Folder, Pipe };

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

} // namespace

class TestBadStoredFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowStartsAndSaysSo_data();
    void windowStartsAndSaysSo();
    void profilesKeptAsideAreNamed();
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();

private:
    std::unique_ptr<SimGateway> m_sim;
};

void TestBadStoredFiles::initTestCase()
{
    ReduceMotion::setOverride(true);
    Prompts::setShared(std::make_unique<ScriptedPrompts>());
    m_sim = std::make_unique<SimGateway>();
    QVERIFY2(m_sim->ok(), m_sim->output().constData());
    qputenv("BRENLOW_SIM_GATEWAY", m_sim->origin().toUtf8());
}

void TestBadStoredFiles::cleanupTestCase()
{
    qunsetenv("BRENLOW_SIM_GATEWAY");
    m_sim.reset();
    Prompts::setShared(nullptr);
    ReduceMotion::setOverride(std::nullopt);
}

void TestBadStoredFiles::windowStartsAndSaysSo_data()
{
    QTest::addColumn<int>("file");
    QTest::addColumn<int>("damageRow");
    const QList<QPair<const char*, Damage>> damages { { "empty", Damage::Empty }, { "truncated", Damage::Truncated },
        { "not JSON", Damage::NotJson }, { "wrong types", Damage::WrongTypes }, { "50 MB", Damage::Huge },
        { "unreadable", Damage::Unreadable }, { "a folder", Damage::Folder }, { "a named pipe", Damage::Pipe } };
    const QList<File> all = files();
    for (int i = 0; i < all.size(); ++i) {
        for (const auto& [name, damage] : damages) {
            // Any text reads as settings; what cannot be opened safely is what counts.
            if (all.at(i).path.endsWith(QLatin1String(".conf")) && damage != Damage::Pipe && damage != Damage::Huge)
                continue;
            QTest::addRow("%s, %s", qPrintable(all.at(i).path), name) << i << int(damage);
        }
    }
}

// Whatever is wrong with one stored file, the window starts and shows its
// workspace, the notice names the file, the file is left as it was, and a
// store that writes again first keeps what it could not read as "<name>.bad".
void TestBadStoredFiles::windowStartsAndSaysSo()
{
    QFETCH(int, file);
    QFETCH(int, damageRow);
    const auto damage = Damage(damageRow);
    const File f = files().at(file);
    // Permission bits do not stop root, which the tests may run as; a link to
    // itself cannot be opened by anyone.
    const bool asRoot = ::geteuid() == 0;
    TempHome home;
    SimTool tool(home);
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("product"))));
    m_sim->pair(home); // the workspace the window opens on
    const QString path = home.filePath(f.root == Root::Home ? f.path : QStringLiteral("product/") + f.path);
    QFile::remove(path);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));

    const QByteArray content = damage == Damage::Truncated ? f.good.left(f.good.size() / 2)
        : damage == Damage::NotJson    ? QByteArray("<html><body>502 Bad Gateway</body></html>\n\xff\xfe")
        : damage == Damage::WrongTypes ? f.wrongTypes
        // Whole and valid, but far larger than any such file can be.
        : damage == Damage::Huge ? f.good + QByteArray(50 * 1024 * 1024, ' ')
                                 : QByteArray();
    if (damage == Damage::Folder) {
        QVERIFY(QDir().mkpath(path));
        home.writeFile(QDir(path).filePath(QStringLiteral("inside")), "x");
    } else if (damage == Damage::Pipe) {
        // Opening it for reading would wait for a writer that never comes.
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    } else if (damage == Damage::Unreadable && asRoot) {
        QVERIFY(QFile::link(path, path));
    } else {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(damage == Damage::Unreadable ? f.good : content);
        out.close();
        if (damage == Damage::Unreadable)
            QVERIFY(out.setPermissions(QFileDevice::WriteOwner));
    }

    {
        MainWindow w(kQuiet);
        QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
        QSignalSpy checked(w.controller(), &WindowController::storedFilesChecked);
        StallProbe probe;
        w.show();
        QTRY_COMPARE(loaded.size(), 1);
        QTRY_COMPARE(checked.size(), 1);
        // Reading the file never held the window up.
        probe.verifyNoStall();
        QCOMPARE(w.controller()->catalog()->selectedID(), QStringLiteral("ws-demo"));
        const QString notice = w.noticeBanner()->text();
        QVERIFY(w.noticeBanner()->isVisible());
        QVERIFY2(notice.contains(QFileInfo(path).fileName()), qPrintable(notice));
        QCOMPARE(notice.contains(QStringLiteral(".bad")), f.write && damage != Damage::Folder);
        const QDir shots(QStringLiteral(TOLVARINE_SCREENSHOT_DIR));
        if (f.path.endsWith(QLatin1String("provider_profiles.json")) && damage == Damage::NotJson) {
            QTest::qWait(100);
            QVERIFY(shots.mkpath(QStringLiteral(".")) && w.grab().save(shots.filePath("notice-unreadable-store.png")));
        }
    }

    // Starting read the file and changed nothing of it.
    const bool regular = damage != Damage::Folder && damage != Damage::Pipe && damage != Damage::Unreadable;
    QCOMPARE(QFileInfo(path).isDir(), damage == Damage::Folder);
    QCOMPARE(QFileInfo(path).isSymLink(), damage == Damage::Unreadable && asRoot);
    if (regular)
        QVERIFY(readAll(path) == content);
    if (!f.write)
        return;

    // A folder is never moved, nor written over; anything else is kept as "<name>.bad".
    QString error;
    const bool written = f.write(&error);
    const QFileInfo bad(path + QStringLiteral(".bad"));
    QVERIFY2(written == (damage != Damage::Folder), qPrintable(error));
    QCOMPARE(bad.exists() || bad.isSymLink(), written);
    if (damage == Damage::Folder)
        QVERIFY(!error.isEmpty() && QFileInfo(path).isDir());
    else if (damage == Damage::Unreadable)
        QCOMPARE(bad.isSymLink(), asRoot);
    else if (damage == Damage::Pipe)
        QVERIFY(!bad.isFile());
    else
        QVERIFY(readAll(bad.filePath()) == content);
}

// A profile saved over a damaged profiles file leaves that file aside, and
// with it the legacy-key migration and the bindings' prune wait for the user:
// each launch says so until the copy is dealt with.
void TestBadStoredFiles::profilesKeptAsideAreNamed()
{
    TempHome home;
    SimTool tool(home);
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("product"))));
    m_sim->pair(home);
    const QString path = ProviderProfileStore::filePath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("[{\"id\": 5}]") > 0);
    }
    ProviderProfile profile;
    profile.id = QUuid::createUuid();
    profile.provider = QStringLiteral("anthropic");
    profile.name = QStringLiteral("工作");
    profile.createdAt = QDateTime::currentDateTimeUtc();
    QVERIFY(ProviderProfileStore::upsert(profile));
    QVERIFY(QFileInfo::exists(path + QStringLiteral(".bad")));

    const auto launchNotice = [] {
        MainWindow w(kQuiet);
        QSignalSpy checked(w.controller(), &WindowController::storedFilesChecked);
        w.show();
        [&] { QTRY_COMPARE(checked.size(), 1); }();
        return w.noticeBanner()->isVisible() ? w.noticeBanner()->text() : QString();
    };
    const QString notice = launchNotice();
    QVERIFY2(
        notice.startsWith(QStringLiteral("~/product/.tolvarine/provider_profiles.json.bad：")), qPrintable(notice));
    QVERIFY2(notice.contains(QStringLiteral("旧密钥的迁移和失效绑定的清理都先停着")), qPrintable(notice));
    QVERIFY(!notice.contains(QStringLiteral("读不了，先当作空的")));

    // Dealt with: nothing more to say.
    QVERIFY(QFile::remove(path + QStringLiteral(".bad")));
    QCOMPARE(launchNotice(), QString());
}

void TestBadStoredFiles::fullDiskKeepsTheOldFile_data()
{
    QTest::addColumn<int>("file");
    const QList<File> all = files();
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).write)
            QTest::newRow(qPrintable(all.at(i).path)) << i;
    }
}

// A write the disk cannot take says so and keeps the file as it was, with no
// temporary file left beside it.
void TestBadStoredFiles::fullDiskKeepsTheOldFile()
{
    QFETCH(int, file);
    const File f = files().at(file);
    TempHome home;
    qputenv("TOLVARINE_HOME", QFile::encodeName(home.filePath(QStringLiteral("product"))));
    const QString path = home.writeFile(f.root == Root::Home ? f.path : QStringLiteral("product/") + f.path, f.good);
    QString error;
    bool written;
    {
        const FullDisk full;
        written = f.write(&error);
    }
    QVERIFY(!written);
    QVERIFY(readAll(path) == f.good);
    const QString name = QFileInfo(path).fileName();
    QCOMPARE(QFileInfo(path).dir().entryList({ name + QLatin1Char('*') }), QStringList { name });
}

QTEST_MAIN(TestBadStoredFiles)
#include "tst_BadStoredFiles.moc"
