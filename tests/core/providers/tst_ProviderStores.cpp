#include "core/platform/SecretStore.h"
#include "core/platform/SerialExecutor.h"
#include "core/providers/CredentialBroker.h"
#include "core/providers/ProviderProfile.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/ProviderSheetModel.h"
#include "core/providers/RuntimeBindingStore.h"
#include "core/providers/RuntimeModelStore.h"
#include "core/providers/RuntimeSetupInfo.h"

#include "TempHome.h"

#include <QCoroTask>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <sys/stat.h>

namespace {

using Listed = std::optional<QList<ProviderProfile>>;

ProviderProfile profile(const QString& provider, const QString& name)
{
    ProviderProfile p;
    p.id = QUuid::createUuid();
    p.provider = provider;
    p.name = name;
    p.createdAt = QDateTime::fromString(QStringLiteral("2026-03-01T08:00:00Z"), Qt::ISODate);
    return p;
}

int mode(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

class TestProviderStores : public QObject {
    Q_OBJECT
private slots:
    void profileDecoding_data();
    void profileDecoding();
    void profileStoreUpsertAndRemove();
    void bindings();
    void pruneAgainstStoredProfiles();
    void bindingMadeDuringPruneSurvives();
    void modelOverrides();
    void setupDecoding_data();
    void setupDecoding();
    void sheetKeyWriteWaitsForTheKeyQueue();
};

void TestProviderStores::profileDecoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("ok");
    const QByteArray good = R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","provider":"openai","name":"n",)"
                            R"("createdAt":"2026-03-01T08:00:00Z")";
    QTest::newRow("minimal") << "[" + good + "}]" << true;
    QTest::newRow("nulls are absent") << "[" + good + R"(,"baseURL":null}])" << true;
    QTest::newRow("id not a uuid") << "[" + QByteArray(good).replace("6F9619FF-8B86-D011-B42D-00C04FC964FF", "abc")
            + "}]" << false;
    QTest::newRow("ok of wrong type") << "[" + good + R"(,"lastVerifyOK":"yes"}])" << false;
    QTest::newRow("one bad element fails all") << "[" + good + "},1]" << false;
    // Once rewritten in UTC it would have no four-digit year and never read back.
    QTest::newRow("verified past 9999 in UTC")
        << "[" + good + R"(,"lastVerifiedAt":"9999-12-31T23:30:00-14:00"}])" << false;
}

void TestProviderStores::profileDecoding()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ok);
    const auto list = ProviderProfile::decodeList(json);
    QCOMPARE(list.has_value(), ok);
    if (ok) // what is written reads back the same
        QCOMPARE(ProviderProfile::decodeList(ProviderProfile::encodeList(*list)), list);
}

void TestProviderStores::profileStoreUpsertAndRemove()
{
    TempHome home;
    QVERIFY(ProviderProfileStore::load().isEmpty());
    ProviderProfile a = profile(QStringLiteral("openai"), QStringLiteral("工作"));
    const ProviderProfile b = profile(QStringLiteral("anthropic"), QStringLiteral("个人"));
    QVERIFY(ProviderProfileStore::upsert(a));
    QVERIFY(ProviderProfileStore::upsert(b));
    a.name = QStringLiteral("改名");
    a.lastVerifyOK = false;
    QVERIFY(ProviderProfileStore::upsert(a));
    QCOMPARE(ProviderProfileStore::load(), (QList<ProviderProfile> { a, b }));
    QCOMPARE(mode(ProviderProfileStore::filePath()), 0600);
    QVERIFY(ProviderProfileStore::remove(a.id));
    QCOMPARE(ProviderProfileStore::load(), QList<ProviderProfile> { b });

    // An undecodable file kept aside (tst_BadStoredFiles) stays as private as the file itself.
    home.writeFile(QStringLiteral(".tolvarine/provider_profiles.json"), "{broken");
    QVERIFY(ProviderProfileStore::upsert(a));
    QCOMPARE(mode(ProviderProfileStore::filePath() + QStringLiteral(".bad")), 0600);
}

void TestProviderStores::bindings()
{
    TempHome home;
    const ProviderProfile a = profile(QStringLiteral("openai"), QStringLiteral("a"));
    const ProviderProfile b = profile(QStringLiteral("openai"), QStringLiteral("b"));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("codex"), a.id));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("aider"), b.id));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("goose"), b.id));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("goose"), std::nullopt));
    QCOMPARE(RuntimeBindingStore::load(),
        (QMap<QString, QUuid> { { QStringLiteral("codex"), a.id }, { QStringLiteral("aider"), b.id } }));
    QCOMPARE(mode(RuntimeBindingStore::filePath()), 0600);

    RuntimeBindingStore::prune({ a });
    QCOMPARE(RuntimeBindingStore::load(), (QMap<QString, QUuid> { { QStringLiteral("codex"), a.id } }));

    // Values that are not ids are skipped, the rest kept.
    home.writeFile(QStringLiteral(".tolvarine/runtime_bindings.json"),
        R"({"x":"not-a-uuid","y":3,"codex":")" + a.id.toString(QUuid::WithoutBraces).toUtf8() + "\"}");
    QCOMPARE(RuntimeBindingStore::load(), (QMap<QString, QUuid> { { QStringLiteral("codex"), a.id } }));
}

void TestProviderStores::pruneAgainstStoredProfiles()
{
    TempHome home;
    const ProviderProfile a = profile(QStringLiteral("openai"), QStringLiteral("a"));
    const QUuid gone = QUuid::createUuid();
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("codex"), a.id));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("aider"), gone));
    const auto nothingRead = [] { return Listed(); };
    QCOMPARE(RuntimeBindingStore::pruneAgainst(nothingRead), Listed());
    QCOMPARE(RuntimeBindingStore::load().size(), 2);

    // A damaged profiles file reads as none, a missing one as an empty list.
    home.writeFile(QStringLiteral(".tolvarine/provider_profiles.json"), "[{broken");
    QCOMPARE(ProviderProfileStore::loadChecked(), Listed());
    QCOMPARE(RuntimeBindingStore::pruneAgainst(&ProviderProfileStore::loadChecked), Listed());
    QCOMPARE(RuntimeBindingStore::load().size(), 2);
    QVERIFY(QFile::remove(ProviderProfileStore::filePath()));
    QCOMPARE(ProviderProfileStore::loadChecked(), Listed(QList<ProviderProfile> {}));

    QVERIFY(ProviderProfileStore::upsert(a));
    QCOMPARE(
        RuntimeBindingStore::pruneAgainst(&ProviderProfileStore::loadChecked), Listed(QList<ProviderProfile> { a }));
    QCOMPARE(RuntimeBindingStore::load(), (QMap<QString, QUuid> { { QStringLiteral("codex"), a.id } }));

    // Without a bindings file the profiles are still read.
    QVERIFY(QFile::remove(RuntimeBindingStore::filePath()));
    QCOMPARE(
        RuntimeBindingStore::pruneAgainst(&ProviderProfileStore::loadChecked), Listed(QList<ProviderProfile> { a }));
    QVERIFY(!QFileInfo::exists(RuntimeBindingStore::filePath()));
}

// A refresh has read the profiles when the sheet stores a new one and binds a
// runtime to it: the prune that follows must not take that binding for stale.
void TestProviderStores::bindingMadeDuringPruneSurvives()
{
    TempHome home;
    const ProviderProfile old = profile(QStringLiteral("openai"), QStringLiteral("old"));
    const ProviderProfile fresh = profile(QStringLiteral("openai"), QStringLiteral("new"));
    QVERIFY(ProviderProfileStore::upsert(old));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("aider"), QUuid::createUuid()));
    std::unique_ptr<QThread> sheet;
    const auto read = [&] {
        const Listed listed = ProviderProfileStore::loadChecked();
        sheet.reset(QThread::create([&] {
            ProviderProfileStore::upsert(fresh);
            RuntimeBindingStore::bind(QStringLiteral("codex"), fresh.id);
        }));
        sheet->start();
        // Time enough for the sheet to get in first, unless something holds it off.
        sheet->wait(QDeadlineTimer(500));
        return listed;
    };
    QCOMPARE(RuntimeBindingStore::pruneAgainst(read), Listed(QList<ProviderProfile> { old }));
    QVERIFY(sheet->wait());
    QCOMPARE(RuntimeBindingStore::load(), (QMap<QString, QUuid> { { QStringLiteral("codex"), fresh.id } }));
}

void TestProviderStores::modelOverrides()
{
    TempHome home;
    QCOMPARE(RuntimeModelStore::model(QStringLiteral("codex")), std::nullopt);
    QVERIFY(RuntimeModelStore::setModel(QStringLiteral("codex"), QStringLiteral(" gpt-5 ")));
    QVERIFY(RuntimeModelStore::setModel(QStringLiteral("aider"), QStringLiteral("sonnet")));
    QCOMPARE(RuntimeModelStore::model(QStringLiteral("codex")), std::optional<QString>(QStringLiteral("gpt-5")));
    QVERIFY(RuntimeModelStore::setModel(QStringLiteral("codex"), QStringLiteral("")));
    QCOMPARE(
        RuntimeModelStore::load(), (QMap<QString, QString> { { QStringLiteral("aider"), QStringLiteral("sonnet") } }));
}

void TestProviderStores::setupDecoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("count");
    QTest::newRow("full contract") << QByteArray(
        R"({"runtimes":[{"kind":"codex","display":"Codex","install_supported":true,"install_method":"npm",)"
        R"("install_package":"@openai/codex","auth_methods":["login","api_key"],"api_key_supported":true,)"
        R"("api_key_env_vars":["OPENAI_API_KEY"],"credential_provider":"openai","uninstall_supported":true,)"
        R"("uninstall_method":"npm","uninstall_package":"@openai/codex","provider_slots":[{"provider":"openai",)"
        R"("display":"OpenAI","key_env_vars":["OPENAI_API_KEY"],"base_url_env_var":"OPENAI_BASE_URL",)"
        R"("model_env_var":"CODEX_MODEL"}],"usability":"ready","protocol":false}]})")
                                   << 1;
    QTest::newRow("bool as string") << QByteArray(R"({"runtimes":[{"kind":"a","install_supported":"yes"}]})") << -1;
    QTest::newRow("slot without provider")
        << QByteArray(R"({"runtimes":[{"kind":"a","provider_slots":[{"display":"x"}]}]})") << -1;
}

void TestProviderStores::setupDecoding()
{
    QFETCH(QByteArray, json);
    QFETCH(int, count);
    const auto list = RuntimeSetupInfo::decodeReport(json);
    QCOMPARE(list ? int(list->size()) : -1, count);
    if (QByteArray(QTest::currentDataTag()) == "full contract") {
        const RuntimeSetupInfo& s = list->first();
        QCOMPARE(s.installPackage, std::optional<QString>(QStringLiteral("@openai/codex")));
        QCOMPARE(s.apiKeyEnvVars, QStringList { QStringLiteral("OPENAI_API_KEY") });
        QCOMPARE(s.providerSlots.size(), 1);
        QCOMPARE(s.providerSlots.first().modelEnvVar, std::optional<QString>(QStringLiteral("CODEX_MODEL")));
    }
}

// Every key-store call goes through one queue: a key written from the sheet
// waits for whatever is on it (a migration of the older keys moving a key),
// instead of reaching the store in the middle of it.
void TestProviderStores::sheetKeyWriteWaitsForTheKeyQueue()
{
    TempHome home;
    auto memory = std::make_unique<MemorySecretStore>();
    MemorySecretStore* keys = memory.get();
    SecretStore::setShared(std::move(memory));
    RuntimeSetupInfo setup;
    setup.kind = QStringLiteral("codex");
    setup.providerSlots = { ProviderSlot { QStringLiteral("openai"), QStringLiteral("OpenAI"), {}, {}, {} } };
    ProviderSheetModel model(QStringLiteral("codex"), QStringLiteral("Codex"), setup, {}, std::nullopt);

    QSemaphore release;
    QSemaphore holding;
    SecretStore::queue().run([&] {
        holding.release();
        release.acquire();
    });
    holding.acquire();
    auto create = model.create({ "openai", "Work", "", "", "sk-queued" });
    // The record is written on its own queue; the key waits for the key queue.
    QTRY_COMPARE(ProviderProfileStore::load().size(), 1);
    QTest::qWait(100);
    QCOMPARE(keys->count(), 0);
    release.release();
    QVERIFY(QCoro::waitFor(std::move(create)));
    QCOMPARE(keys->count(), 1);
    QCOMPARE(model.profiles().size(), 1);
    SecretStore::setShared(nullptr);
}

QTEST_GUILESS_MAIN(TestProviderStores)
#include "tst_ProviderStores.moc"
