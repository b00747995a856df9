#include "core/gateway/CLI.h"
#include "core/platform/DeskCrumbs.h"
#include "core/platform/SecretStore.h"
#include "core/platform/UuidText.h"
#include "core/providers/CredentialBroker.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/ProviderSheetModel.h"
#include "core/providers/RuntimeBindingStore.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeInventoryStore.h"

#include "BlockingSecretStore.h"
#include "SimTool.h"
#include "TempHome.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

namespace {

const QString kRuntimes = QStringLiteral("runtimes");

// One runtime of the report, with its setup-contract keys.
QJsonObject runtime(
    const QString& kind, const QString& display, const QString& provider = {}, const QJsonArray& slotList = {})
{
    QJsonObject o { { "kind", kind }, { "display", display }, { "adapter", "cli" },
        { "health", QJsonObject { { "installed", true }, { "healthy", true }, { "version", "1.0" } } },
        { "auth", QJsonObject { { "state", "ok" }, { "source", "env" } } }, { "usability", "ready" },
        { "protocol", false }, { "cap_counts", QJsonObject { { "yes", 2 }, { "unknown", 1 } } } };
    if (!provider.isEmpty())
        o.insert("credential_provider", provider);
    if (!slotList.isEmpty())
        o.insert("provider_slots", slotList);
    return o;
}

QByteArray report(const QJsonArray& runtimes)
{
    return QJsonDocument(
        QJsonObject { { "runtimes", runtimes }, { "counts", QJsonObject { { "ready", runtimes.size() } } } })
        .toJson(QJsonDocument::Compact);
}

QJsonObject slot(const QString& provider, const QString& display)
{
    return QJsonObject { { "provider", provider }, { "display", display },
        { "key_env_vars", QJsonArray { "OPENAI_API_KEY" } } };
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void refreshAndWait(RuntimeInventoryStore& store)
{
    QSignalSpy done(&store, &RuntimeInventoryStore::refreshed);
    store.refresh();
    QVERIFY(done.wait(20000));
}

// One Codex row whose contract takes the OpenAI key.
QByteArray codexReport()
{
    return report({ runtime("codex", "Codex", "openai", { slot("openai", "OpenAI") }) });
}

// A secret store whose writes to profile items fail (once refusing), for the undo path.
class RefusingStore final : public SecretStore {
public:
    std::optional<QByteArray> read(const QString& s, const QString& a) override { return m_inner.read(s, a); }
    bool write(const QString& s, const QString& a, const QByteArray& secret, const QString& label,
        QString* error = nullptr) override
    {
        if (m_refusing && a.startsWith(QStringLiteral("profile:"))) {
            if (error)
                *error = QStringLiteral("系统密码库拒绝了");
            return false;
        }
        return m_inner.write(s, a, secret, label, error);
    }
    bool remove(const QString& s, const QString& a, QString* error = nullptr) override
    {
        return m_inner.remove(s, a, error);
    }
    void setRefusing(bool refusing) { m_refusing = refusing; }

private:
    MemorySecretStore m_inner;
    std::atomic<bool> m_refusing { true };
};

void storeLegacyKey(const QString& provider, SecretStore* store = nullptr)
{
    QVERIFY((store ? store : SecretStore::shared().get())
                ->write(CredentialBroker::service(), CredentialBroker::legacyAccount(provider), "sk-old", "t"));
}

} // namespace

class TestRuntimeInventoryStore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void outcomes_data();
    void outcomes();
    void rawSnapshotOnlyWhenChanged();
    void secondRefreshIsDropped();
    void failureKeepsRowsAndReleasesTheGuard();
    void setupContracts();
    void profilesSortedAndBindingsPruned();
    void damagedProfilesKeepBindings_data();
    void damagedProfilesKeepBindings();
    void savingOverDamagedProfilesKeepsBindings_data();
    void savingOverDamagedProfilesKeepsBindings();
    void migration();
    void damagedBindingsHoldTheMigration_data();
    void damagedBindingsHoldTheMigration();
    void migrationFailureMovesNothing_data();
    void migrationFailureMovesNothing();
    void keyStoreIsReadOffTheGuiThread();
    void heldKeyStoreGathersNoBacklog();

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
};

void TestRuntimeInventoryStore::init()
{
    m_home = std::make_unique<TempHome>();
    m_tool = std::make_unique<SimTool>(*m_home);
    SecretStore::setShared(std::make_unique<MemorySecretStore>());
}

void TestRuntimeInventoryStore::cleanup()
{
    SecretStore::setShared(nullptr);
    m_tool.reset();
    m_home.reset();
}

void TestRuntimeInventoryStore::outcomes_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("rows"); // -1: failed
    QTest::addColumn<QString>("failure"); // ending in "…": only its start is known
    QTest::addColumn<QByteArray>("raw"); // the raw snapshot; "-" when none is written

    const QByteArray good = report({ runtime("codex", "Codex"), runtime("aider", "Aider") });
    const QByteArray trailing = good + "\nwarning: bye";
    QTest::newRow("report") << good << 0 << 2 << "" << good;
    QTest::newRow("valid report, exit 1") << good << 1 << 2 << "" << good;
    QTest::newRow("text after the report") << trailing << 0 << -1 << "runtimes 报告不是合法的 JSON…" << trailing;
    QTest::newRow("no brace, long") << QByteArray(500, 'x') << 3 << -1
                                    << "brenlow runtimes --json 退出码 3：" + QString(400, 'x') << QByteArray("-");
    QTest::newRow("secret in the output")
        << QByteArray("error: TOLVARINE_TOKEN=abc123 rejected") << 1 << -1
        << "brenlow runtimes --json 退出码 1：error: TOLVARINE_TOKEN=**** rejected" << QByteArray("-");
    // Valid, but longer than a run keeps of a tool's output: neither read nor written down.
    QTest::newRow("longer than is kept") << good + QByteArray(CLI::kMaxOutputBytes, ' ') << 0 << -1
                                         << RuntimeInventoryStore::tooLongText() << QByteArray("-");
}

void TestRuntimeInventoryStore::outcomes()
{
    QFETCH(QByteArray, output);
    QFETCH(int, code);
    QFETCH(int, rows);
    QFETCH(QString, failure);
    QFETCH(QByteArray, raw);
    m_tool->answer(kRuntimes, output, code);
    RuntimeInventoryStore store;
    refreshAndWait(store);
    QVERIFY(!store.loading());
    QVERIFY(store.stamp());
    if (rows >= 0) {
        QCOMPARE(store.rows().size(), rows);
        QVERIFY(!store.failure());
        QCOMPARE(store.counts().value(QStringLiteral("ready")), rows);
        const QJsonArray snapshot = QJsonDocument::fromJson(readFile(RuntimeInventoryStore::snapshotPath())).array();
        QCOMPARE(snapshot.size(), rows);
        QCOMPARE(snapshot.first().toObject().value("cap_yes").toInt(), 2);
    } else {
        QVERIFY(store.rows().isEmpty());
        QVERIFY(store.failure());
        if (failure.endsWith(QChar(u'…')))
            QVERIFY2(store.failure()->startsWith(failure.chopped(1)), qPrintable(*store.failure()));
        else
            QCOMPARE(*store.failure(), failure);
        QVERIFY(TempHome::crumbs().contains(QStringLiteral("runtimes.refresh 失败 ") + *store.failure()));
        QVERIFY(!TempHome::crumbs().contains(QStringLiteral("abc123")));
    }
    if (raw == "-")
        QVERIFY(!QFile::exists(RuntimeInventoryStore::rawSnapshotPath()));
    else
        QCOMPARE(readFile(RuntimeInventoryStore::rawSnapshotPath()), raw);
}

// The raw snapshot is written again only when the tool said something else.
void TestRuntimeInventoryStore::rawSnapshotOnlyWhenChanged()
{
    const auto inode = [] {
        struct stat st { };
        return ::stat(QFile::encodeName(RuntimeInventoryStore::rawSnapshotPath()).constData(), &st) == 0 ? st.st_ino
                                                                                                         : ino_t(0);
    };
    const QByteArray one = report({ runtime("codex", "Codex") });
    m_tool->answer(kRuntimes, one);
    RuntimeInventoryStore store;
    refreshAndWait(store);
    const ino_t first = inode();
    QVERIFY(first != 0);
    refreshAndWait(store);
    QCOMPARE(inode(), first);
    const QByteArray two = report({ runtime("aider", "Aider") });
    m_tool->answer(kRuntimes, two);
    refreshAndWait(store);
    QCOMPARE(readFile(RuntimeInventoryStore::rawSnapshotPath()), two);
}

void TestRuntimeInventoryStore::secondRefreshIsDropped()
{
    m_tool->answer(kRuntimes, report({ runtime("codex", "Codex") }));
    RuntimeInventoryStore store;
    QSignalSpy done(&store, &RuntimeInventoryStore::refreshed);
    store.refresh();
    QVERIFY(store.loading());
    store.refresh();
    QVERIFY(done.wait(20000));
    QTest::qWait(200);
    QCOMPARE(done.size(), 1);
    QCOMPARE(m_tool->argvs(), QStringList { QStringLiteral("runtimes --json") });
}

// A failed refresh (here a hung tool) keeps the rows it had, and releases the
// guard: the next refresh runs.
void TestRuntimeInventoryStore::failureKeepsRowsAndReleasesTheGuard()
{
    m_tool->answer(kRuntimes, report({ runtime("codex", "Codex") }));
    RuntimeInventoryStore store;
    store.setTimeLimit(std::chrono::milliseconds(500));
    refreshAndWait(store);
    m_tool->put(QStringLiteral("runtimes.delay_ms"), "30000");
    refreshAndWait(store);
    QCOMPARE(store.rows().size(), 1);
    QCOMPARE(store.failure(),
        std::optional(CLI::timedOutText(
            { QStringLiteral("runtimes"), QStringLiteral("--json") }, std::chrono::milliseconds(500))));

    m_tool->drop(QStringLiteral("runtimes.delay_ms"));
    refreshAndWait(store);
    QCOMPARE(store.failure(), std::nullopt);
}

void TestRuntimeInventoryStore::setupContracts()
{
    // Of two rows of a kind the first gives the contract.
    m_tool->answer(
        kRuntimes, report({ runtime("codex", "Codex", "OpenAI"), runtime("codex", "Codex 2", "anthropic") }));
    RuntimeInventoryStore store;
    refreshAndWait(store);
    QCOMPARE(store.setup().size(), 1);
    QCOMPARE(store.setup().value(QStringLiteral("codex")).credentialProvider,
        std::optional<QString>(QStringLiteral("OpenAI")));

    // Malformed setup keys: rows still come, setup is empty.
    QJsonObject bad = runtime("codex", "Codex");
    bad.insert("install_supported", "yes");
    m_tool->answer(kRuntimes, report({ bad }));
    refreshAndWait(store);
    QCOMPARE(store.rows().size(), 1);
    QVERIFY(store.setup().isEmpty());
    QVERIFY(store.configured().isEmpty());
}

void TestRuntimeInventoryStore::profilesSortedAndBindingsPruned()
{
    auto make = [](const QString& provider, const QString& name) {
        // The file keeps whole seconds.
        return ProviderProfile { QUuid::createUuid(), provider, name, {}, {},
            QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC), {}, {}, {} };
    };
    const ProviderProfile o2 = make(QStringLiteral("openai"), QStringLiteral("b"));
    const ProviderProfile o1 = make(QStringLiteral("openai"), QStringLiteral("a"));
    const ProviderProfile an = make(QStringLiteral("anthropic"), QStringLiteral("z"));
    for (const ProviderProfile& p : { o2, o1, an })
        QVERIFY(ProviderProfileStore::upsert(p));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("codex"), o1.id));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("aider"), QUuid::createUuid()));

    m_tool->answer(kRuntimes, report({ runtime("codex", "Codex") }));
    RuntimeInventoryStore store;
    refreshAndWait(store);
    QCOMPARE(store.profiles(), (QList<ProviderProfile> { an, o1, o2 }));
    QCOMPARE(store.bindings(), (QMap<QString, QUuid> { { QStringLiteral("codex"), o1.id } }));
    QCOMPARE(store.profile(QStringLiteral("codex")), std::optional<ProviderProfile>(o1));
    QCOMPARE(store.profile(QStringLiteral("aider")), std::nullopt);
    QCOMPARE(RuntimeBindingStore::load().size(), 1);
}

void TestRuntimeInventoryStore::damagedProfilesKeepBindings_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("legacyKey"); // a key waiting to be migrated
    QTest::newRow("missing file: nothing to keep") << QByteArray() << false << false;
    QTest::newRow("not JSON") << QByteArray("[{broken") << false << false;
    QTest::newRow("a record that does not decode") << QByteArray(R"([{"id":5}])") << false << false;
    QTest::newRow("a folder in its place") << QByteArray() << true << false;
    QTest::newRow("not JSON, legacy key waiting") << QByteArray("[{broken") << false << true;
}

// A profiles file that cannot be read says nothing about which profiles are
// gone: the runtimes keep their accounts until the user has mended it.
void TestRuntimeInventoryStore::damagedProfilesKeepBindings()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, folder);
    QFETCH(bool, legacyKey);
    const ProviderProfile mine { QUuid::createUuid(), QStringLiteral("anthropic"), QStringLiteral("工作"), {}, {},
        QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC), {}, {}, {} };
    const QString path = ProviderProfileStore::filePath();
    if (folder) {
        QVERIFY(QDir().mkpath(path));
    } else if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    }
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("claude"), mine.id));
    if (legacyKey)
        storeLegacyKey(QStringLiteral("openai"));
    m_tool->answer(kRuntimes,
        report({ runtime("claude", "Claude", "openai", { slot("anthropic", ""), slot("openai", "OpenAI") }) }));
    RuntimeInventoryStore store;
    refreshAndWait(store);
    QVERIFY(store.profiles().isEmpty());
    const bool missing = content.isEmpty() && !folder;
    const QMap<QString, QUuid> bound
        = missing ? QMap<QString, QUuid> {} : QMap<QString, QUuid> { { QStringLiteral("claude"), mine.id } };
    QCOMPARE(store.bindings(), bound);
    QCOMPARE(RuntimeBindingStore::load(), bound);
    if (missing)
        return;
    // The damaged file is left for the user as it was; the legacy key waits too.
    QCOMPARE(readFile(path), content);
    QCOMPARE(CredentialBroker::isConfigured(QStringLiteral("openai")), legacyKey);

    // Mended: the runtime finds its account again.
    if (folder)
        QVERIFY(QDir(path).removeRecursively());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(ProviderProfile::encodeList({ mine }));
    f.close();
    refreshAndWait(store);
    QCOMPARE(store.profile(QStringLiteral("claude")), std::optional<ProviderProfile>(mine));
    QCOMPARE(RuntimeBindingStore::load().value(QStringLiteral("claude")), mine.id);
}

void TestRuntimeInventoryStore::savingOverDamagedProfilesKeepsBindings_data()
{
    QTest::addColumn<bool>("tooLarge"); // otherwise not JSON
    QTest::addColumn<bool>("keyRefused");
    QTest::newRow("not JSON, saved") << false << false;
    QTest::newRow("not JSON, key refused") << false << true;
    QTest::newRow("too large, saved") << true << false;
    QTest::newRow("too large, key refused") << true << true;
}

// The sheet saves a new profile while the profiles file is damaged: the file
// is kept aside and a new one written. The runtimes bound to the profiles kept
// aside still have their accounts once the user restores the file, whether
// the save went through or its key was refused and the record taken back.
void TestRuntimeInventoryStore::savingOverDamagedProfilesKeepsBindings()
{
    QFETCH(bool, tooLarge);
    QFETCH(bool, keyRefused);
    auto refusing = std::make_unique<RefusingStore>();
    RefusingStore* keys = refusing.get();
    keys->setRefusing(false);
    SecretStore::setShared(std::move(refusing));
    const QDateTime created = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    const ProviderProfile work { QUuid::createUuid(), QStringLiteral("anthropic"), QStringLiteral("工作"), {}, {},
        created, {}, {}, {} };
    const ProviderProfile own { QUuid::createUuid(), QStringLiteral("openai"), QStringLiteral("个人"), {}, {}, created,
        {}, {}, {} };
    QVERIFY(CredentialBroker::storeKey(work.id, QStringLiteral("sk-ant-work-1234")));
    QVERIFY(CredentialBroker::storeKey(own.id, QStringLiteral("sk-oai-own-5678")));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("claude"), work.id));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("codex"), own.id));
    const QMap<QString, QUuid> bound { { QStringLiteral("claude"), work.id }, { QStringLiteral("codex"), own.id } };
    const QByteArray good = ProviderProfile::encodeList({ work, own });
    const QByteArray damaged = tooLarge ? good + QByteArray(5 * 1024 * 1024, ' ') : good + "\n]}";
    const QString path = ProviderProfileStore::filePath();
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(damaged) == damaged.size());
    }
    m_tool->answer(kRuntimes,
        report({ runtime("claude", "Claude", "", { slot("anthropic", "Anthropic") }),
            runtime("codex", "Codex", "", { slot("openai", "OpenAI") }) }));
    RuntimeInventoryStore store;
    refreshAndWait(store);
    QCOMPARE(RuntimeBindingStore::load(), bound);

    // The runtime card opens the sheet with what the store shows: no profiles.
    ProviderSheetModel sheet(QStringLiteral("claude"), QStringLiteral("Claude"), store.setup().value("claude"),
        store.profiles(), std::nullopt);
    keys->setRefusing(keyRefused);
    const bool saved = QCoro::waitFor(sheet.create({ "anthropic", "新的", "", "", "sk-ant-new-9999" }));
    QCOMPARE(saved, !keyRefused);
    QCOMPARE(readFile(path + QStringLiteral(".bad")), damaged);
    QCOMPARE(ProviderProfileStore::load().size(), keyRefused ? 0 : 1);
    // The sheet closes (the section reloads what it shows), then the periodic refresh.
    QCoro::waitFor(store.refreshConfigured());
    refreshAndWait(store);
    QCOMPARE(RuntimeBindingStore::load(), bound);

    // Restored by the user: every runtime starts with its old account.
    QVERIFY(QFile::remove(path + QStringLiteral(".bad")));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(good) == good.size());
    }
    refreshAndWait(store);
    QCOMPARE(store.bindings(), bound);
    const QString folder = m_home->filePath(QStringLiteral("project"));
    QVERIFY(QDir().mkpath(folder));
    m_tool->put(QStringLiteral("log_env"), "OPENAI_API_KEY\n");
    CLIConfig cfg;
    cfg.api = QStringLiteral("http://127.0.0.1:1");
    cfg.workspace = QStringLiteral("ws");
    cfg.token = QStringLiteral("tok");
    cfg.path = folder;
    RuntimeController runtimes;
    for (const QString& kind : { QStringLiteral("claude"), QStringLiteral("codex") })
        runtimes.start(cfg, RuntimeLaunch { kind, kind, kind }, store.setup().value(kind), store.profile(kind));
    // The key each worker was given, by runtime.
    const auto started = [this] {
        QMap<QString, QString> given;
        for (const QJsonObject& call : m_tool->calls()) {
            const QJsonObject env = call.value(QStringLiteral("env")).toObject();
            if (call.value(QStringLiteral("argv")).toArray().first().toString() == QStringLiteral("run"))
                given.insert(env.value(QStringLiteral("TOLVARINE_RUNTIME_KIND")).toString(),
                    env.value(QStringLiteral("OPENAI_API_KEY")).toString());
        }
        return given;
    };
    QTRY_COMPARE(started().size(), 2);
    QCOMPARE(started(),
        (QMap<QString, QString> { { QStringLiteral("claude"), QStringLiteral("sk-ant-work-1234") },
            { QStringLiteral("codex"), QStringLiteral("sk-oai-own-5678") } }));
    runtimes.stopAll();
}

void TestRuntimeInventoryStore::damagedBindingsHoldTheMigration_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: a folder in its place
    QTest::newRow("not JSON") << QByteArray(R"({"claude": ")");
    QTest::newRow("not an object") << QByteArray(R"(["claude"])");
    QTest::newRow("a folder in its place") << QByteArray();
}

// A legacy key waits to be moved under a profile of its own, which the
// runtimes with its slot are then bound to; with a bindings file that cannot
// be read, that binding would set the user's bindings aside. Nothing moves
// until the file is mended: the runtimes keep their accounts, and the one
// without a binding still gets the legacy key.
void TestRuntimeInventoryStore::damagedBindingsHoldTheMigration()
{
    QFETCH(QByteArray, content);
    const ProviderProfile mine { QUuid::createUuid(), QStringLiteral("anthropic"), QStringLiteral("工作"), {}, {},
        QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC), {}, {}, {} };
    QVERIFY(ProviderProfileStore::upsert(mine));
    const QString path = RuntimeBindingStore::filePath();
    if (content.isEmpty()) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    }
    storeLegacyKey(QStringLiteral("openai"));
    m_tool->answer(kRuntimes,
        report({ runtime("claude", "Claude", "", { slot("anthropic", "Anthropic") }),
            runtime("codex", "Codex", "openai", { slot("openai", "OpenAI") }) }));
    RuntimeInventoryStore store;
    refreshAndWait(store);
    QCOMPARE(store.profiles(), QList<ProviderProfile> { mine });
    QVERIFY(CredentialBroker::isConfigured(QStringLiteral("openai")));
    QVERIFY(!QFileInfo::exists(path + QStringLiteral(".bad")));
    if (content.isEmpty())
        QVERIFY(QFileInfo(path).isDir());
    else
        QCOMPARE(readFile(path), content);

    // Mended: the user's bindings are there, and the key moves.
    if (content.isEmpty())
        QVERIFY(QDir(path).removeRecursively());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(R"({"claude": ")") + UuidText::stored(mine.id).toLatin1() + "\"}");
    f.close();
    refreshAndWait(store);
    QVERIFY(!CredentialBroker::isConfigured(QStringLiteral("openai")));
    QCOMPARE(store.profiles().size(), 2);
    QCOMPARE(store.bindings().value(QStringLiteral("claude")), mine.id);
    QVERIFY(store.profile(QStringLiteral("codex")) && store.profile(QStringLiteral("codex"))->provider == "openai");
}

void TestRuntimeInventoryStore::migration()
{
    const ProviderProfile other { QUuid::createUuid(), QStringLiteral("other"), QStringLiteral("x"), {}, {},
        QDateTime::currentDateTimeUtc(), {}, {}, {} };
    QVERIFY(ProviderProfileStore::upsert(other));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("goose"), other.id));
    storeLegacyKey(QStringLiteral("openai"));
    storeLegacyKey(QStringLiteral("mistral"));

    m_tool->answer(kRuntimes,
        report({ runtime("codex", "Codex", "OpenAI", { slot("openai", "OpenAI 官方") }),
            runtime("aider", "Aider", "openai", { slot("OPENAI", "OpenAI 官方") }),
            runtime("goose", "Goose", "openai", { slot("openai", "") }), runtime("plain", "Plain", "mistral") }));
    RuntimeInventoryStore store;
    refreshAndWait(store);

    // Configured was read before the migration moved the keys.
    QCOMPARE(store.configured(),
        (QSet<QString> { QStringLiteral("OpenAI"), QStringLiteral("openai"), QStringLiteral("mistral") }));
    QList<ProviderProfile> migrated = store.profiles();
    migrated.removeIf([&](const ProviderProfile& p) { return p.id == other.id; });
    QCOMPARE(migrated.size(), 2);
    const ProviderProfile openai = migrated.at(1);
    const auto named = [](const ProviderProfile& p) { return QStringList { p.provider, p.name }; };
    QCOMPARE(named(migrated.at(0)), (QStringList { "mistral", "mistral（原有）" }));
    QCOMPARE(named(openai), (QStringList { "openai", "OpenAI 官方（原有）" }));
    QVERIFY(CredentialBroker::isConfigured(openai.id));
    QVERIFY(!CredentialBroker::isConfigured(QStringLiteral("openai")));
    // Both unbound runtimes with a slot are bound; goose keeps its binding; plain has no slot.
    QCOMPARE(store.bindings(),
        (QMap<QString, QUuid> { { QStringLiteral("codex"), openai.id }, { QStringLiteral("aider"), openai.id },
            { QStringLiteral("goose"), other.id } }));

    // The next run finds nothing left to migrate.
    refreshAndWait(store);
    QVERIFY(store.configured().isEmpty());
    QCOMPARE(store.profiles().size(), 3);
}

void TestRuntimeInventoryStore::migrationFailureMovesNothing_data()
{
    QTest::addColumn<bool>("keyCannotMove"); // otherwise the profile record cannot be written
    QTest::newRow("key cannot move: the profile is undone") << true;
    QTest::newRow("profile cannot be written") << false;
}

void TestRuntimeInventoryStore::migrationFailureMovesNothing()
{
    QFETCH(bool, keyCannotMove);
    if (keyCannotMove)
        SecretStore::setShared(std::make_unique<RefusingStore>());
    else
        QDir().mkpath(ProviderProfileStore::filePath()); // a folder where the file should be
    storeLegacyKey(QStringLiteral("openai"));
    m_tool->answer(kRuntimes, codexReport());
    RuntimeInventoryStore store;
    refreshAndWait(store);
    QVERIFY(store.profiles().isEmpty());
    QVERIFY(store.bindings().isEmpty());
    QVERIFY(CredentialBroker::isConfigured(QStringLiteral("openai")));
    if (keyCannotMove)
        QVERIFY(ProviderProfileStore::load().isEmpty());
}

// The key store may keep its caller waiting indefinitely (a prompt, a stalled
// daemon): the GUI thread keeps turning meanwhile, and once the store answers
// the refresh ends as it would have.
void TestRuntimeInventoryStore::keyStoreIsReadOffTheGuiThread()
{
    auto blocking = std::make_unique<BlockingSecretStore>();
    BlockingSecretStore* keys = blocking.get();
    storeLegacyKey(QStringLiteral("openai"), &keys->inner());
    SecretStore::setShared(std::move(blocking));
    m_tool->answer(kRuntimes, codexReport());
    RuntimeInventoryStore store;
    QSignalSpy done(&store, &RuntimeInventoryStore::refreshed);
    store.refresh();
    QTRY_VERIFY(keys->waiting());
    // The rows are there, and the refresh no longer shows as under way, while
    // the key store still holds its call.
    QTRY_COMPARE(store.rows().size(), 1);
    QVERIFY(!store.loading());
    QVERIFY(keys->waiting());
    QVERIFY(!keys->gaveUp());
    QCOMPARE(done.size(), 0);
    keys->open();
    QVERIFY(done.wait(20000));
    QVERIFY(!keys->gaveUp());
    QCOMPARE(store.configured(), QSet<QString> { QStringLiteral("openai") });
    QCOMPARE(store.profiles().size(), 1);
    QCOMPARE(store.bindings().value(QStringLiteral("codex")), store.profiles().first().id);
}

// While the key store holds its calls (an unlock prompt nobody answers), the
// health passes and the user's re-detects go on refreshing the rows; what
// they ask of the store joins the pass that follows the one waiting, rather
// than queueing a pass each for when the store answers.
void TestRuntimeInventoryStore::heldKeyStoreGathersNoBacklog()
{
    auto blocking = std::make_unique<BlockingSecretStore>();
    BlockingSecretStore* keys = blocking.get();
    SecretStore::setShared(std::move(blocking));
    m_tool->answer(kRuntimes, codexReport());
    RuntimeInventoryStore store;
    QSignalSpy done(&store, &RuntimeInventoryStore::refreshed);
    QSignalSpy applied(&store, &RuntimeInventoryStore::reportApplied);
    for (int i = 1; i <= 5; ++i) {
        store.refresh();
        QTRY_COMPARE(applied.size(), i);
    }
    QVERIFY(keys->waiting());
    QCOMPARE(done.size(), 0);
    keys->open();
    QTRY_COMPARE(done.size(), 5);
    const int held = keys->calls();
    // What one pass asks of the store, once it answers at once.
    refreshAndWait(store);
    const int onePass = keys->calls() - held;
    QVERIFY(onePass > 0);
    // The pass that waited, and one for all that came meanwhile.
    QCOMPARE(held, 2 * onePass);
    QVERIFY(!keys->gaveUp());
}

QTEST_GUILESS_MAIN(TestRuntimeInventoryStore)
#include "tst_RuntimeInventoryStore.moc"
