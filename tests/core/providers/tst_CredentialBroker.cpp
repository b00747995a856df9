#include "core/platform/SecretStore.h"
#include "core/providers/CredentialBroker.h"
#include "core/providers/RuntimeModelStore.h"

#include "TempHome.h"

#include <QtTest>

// Every case runs against the in-memory store and against the Secret Service of
// the test session (scripts/test starts an unlocked gnome-keyring).
class TestCredentialBroker : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void legacyItems_data() { stores(); }
    void legacyItems();
    void adoptLegacy_data() { stores(); }
    void adoptLegacy();
    void profileKeys_data() { stores(); }
    void profileKeys();
    void launchEnvForProfile_data() { stores(); }
    void launchEnvForProfile();
    void failingStoreMovesNothing();

private:
    void stores();
    void useStore();
    QString uniqueProvider(const QString& base) const { return base + m_suffix; }

    std::unique_ptr<TempHome> m_home;
    QString m_suffix;
    QList<QPair<QString, QString>> m_cleanup;
};

void TestCredentialBroker::stores()
{
    QTest::addColumn<bool>("real");
    QTest::newRow("memory") << false;
    QTest::newRow("secret service") << true;
}

void TestCredentialBroker::init()
{
    m_home = std::make_unique<TempHome>();
    // Items of the real keyring outlive one test: give each test its own names.
    m_suffix = QStringLiteral("-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
}

void TestCredentialBroker::cleanup()
{
    for (const auto& [service, account] : m_cleanup)
        SecretStore::shared()->remove(service, account);
    m_cleanup.clear();
    SecretStore::setShared(nullptr);
    m_home.reset();
}

void TestCredentialBroker::useStore()
{
    QFETCH(bool, real);
    if (real) {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
            && !qEnvironmentVariableIsSet("TOLVARINE_REQUIRE_KEYRING"))
            QSKIP("no D-Bus session");
        SecretStore::setShared(std::make_unique<LibsecretStore>());
    } else {
        SecretStore::setShared(std::make_unique<MemorySecretStore>());
    }
}

// Keys stored per provider, as earlier versions did.
void TestCredentialBroker::legacyItems()
{
    useStore();
    const QString openai = uniqueProvider(QStringLiteral("openai"));
    const QString anthropic = uniqueProvider(QStringLiteral("anthropic"));
    const QStringList vars { QStringLiteral("OPENAI_API_KEY"), QStringLiteral("X_KEY") };
    QVERIFY(CredentialBroker::launchEnv(openai, vars).isEmpty());
    QVERIFY(SecretStore::shared()->write(
        CredentialBroker::service(), CredentialBroker::legacyAccount(openai), "sk-1", "t"));
    m_cleanup.append({ CredentialBroker::service(), CredentialBroker::legacyAccount(openai) });
    // The item is found by the lower-cased name, and names come back as given.
    const QString mixed = openai.toUpper();
    QVERIFY(CredentialBroker::isConfigured(mixed));
    QCOMPARE(CredentialBroker::configuredProviders({ mixed, anthropic, QString() }), QSet<QString> { mixed });
    // Every variable gets the key.
    QCOMPARE(CredentialBroker::launchEnv(openai, vars),
        (QMap<QString, QString> { { vars[0], QStringLiteral("sk-1") }, { vars[1], QStringLiteral("sk-1") } }));
    QVERIFY(CredentialBroker::launchEnv(QString(), vars).isEmpty());
}

void TestCredentialBroker::adoptLegacy()
{
    useStore();
    SecretStore& store = *SecretStore::shared();
    const QString svc = CredentialBroker::service();
    const QString provider = uniqueProvider(QStringLiteral("deepseek"));
    const QUuid first = QUuid::createUuid();
    const QUuid second = QUuid::createUuid();
    m_cleanup << qMakePair(svc, CredentialBroker::legacyAccount(provider))
              << qMakePair(svc, CredentialBroker::profileAccount(first))
              << qMakePair(svc, CredentialBroker::profileAccount(second));

    QVERIFY(!CredentialBroker::adoptLegacy(provider, first)); // nothing to move
    QVERIFY(store.write(svc, CredentialBroker::legacyAccount(provider), "sk-legacy", "t"));
    QVERIFY(CredentialBroker::adoptLegacy(provider, first));
    QVERIFY(!CredentialBroker::isConfigured(provider));
    QCOMPARE(store.read(svc, CredentialBroker::profileAccount(first)), std::optional<QByteArray>("sk-legacy"));

    // A profile that already has a key keeps it, and the legacy item stays.
    QVERIFY(store.write(svc, CredentialBroker::legacyAccount(provider), "sk-other", "t"));
    QVERIFY(!CredentialBroker::adoptLegacy(provider, first));
    QVERIFY(CredentialBroker::isConfigured(provider));
    QCOMPARE(store.read(svc, CredentialBroker::profileAccount(first)), std::optional<QByteArray>("sk-legacy"));
    QVERIFY(CredentialBroker::adoptLegacy(provider, second));
}

void TestCredentialBroker::profileKeys()
{
    useStore();
    const QUuid id = QUuid::createUuid();
    m_cleanup << qMakePair(CredentialBroker::service(), CredentialBroker::profileAccount(id));
    QString error;
    QVERIFY(!CredentialBroker::storeKey(id, QStringLiteral("   "), &error) && !error.isEmpty());
    QVERIFY(!CredentialBroker::isConfigured(id));
    QVERIFY2(CredentialBroker::storeKey(id, QStringLiteral(" sk-abc \n"), &error), qPrintable(error));
    QCOMPARE(SecretStore::shared()->read(CredentialBroker::service(), CredentialBroker::profileAccount(id)),
        std::optional<QByteArray>("sk-abc"));
    QVERIFY(CredentialBroker::deleteKey(id));
    QVERIFY(!CredentialBroker::isConfigured(id));
    QVERIFY(CredentialBroker::deleteKey(id)); // nothing left to delete is no failure
}

void TestCredentialBroker::launchEnvForProfile()
{
    useStore();
    ProviderProfile p;
    p.id = QUuid::createUuid();
    p.provider = QStringLiteral("OpenAI");
    p.baseURL = QStringLiteral("  https://proxy.example/v1 ");
    p.defaultModel = QStringLiteral("gpt-default");
    m_cleanup << qMakePair(CredentialBroker::service(), CredentialBroker::profileAccount(p.id));

    RuntimeSetupInfo setup;
    setup.kind = QStringLiteral("codex");
    setup.credentialProvider = QStringLiteral("openai");
    setup.providerSlots = {
        ProviderSlot { QStringLiteral("anthropic"), {}, { QStringLiteral("ANTHROPIC_API_KEY") }, {}, {} },
        ProviderSlot { QStringLiteral("openai"), QStringLiteral("OpenAI"),
            { QStringLiteral("OPENAI_API_KEY"), QStringLiteral("CODEX_KEY") }, QStringLiteral("OPENAI_BASE_URL"),
            QStringLiteral("CODEX_MODEL") },
    };

    // No key stored yet: only the base URL and the model.
    QCOMPARE(CredentialBroker::launchEnv(p, setup, QStringLiteral("codex")),
        (QMap<QString, QString> { { QStringLiteral("OPENAI_BASE_URL"), QStringLiteral("https://proxy.example/v1") },
            { QStringLiteral("CODEX_MODEL"), QStringLiteral("gpt-default") } }));

    QVERIFY(CredentialBroker::storeKey(p.id, QStringLiteral("sk-profile")));
    QVERIFY(RuntimeModelStore::setModel(QStringLiteral("codex"), QStringLiteral("gpt-override")));
    QCOMPARE(CredentialBroker::launchEnv(p, setup, QStringLiteral("codex")),
        (QMap<QString, QString> { { "OPENAI_BASE_URL", "https://proxy.example/v1" }, { "CODEX_MODEL", "gpt-override" },
            { "OPENAI_API_KEY", "sk-profile" }, { "CODEX_KEY", "sk-profile" } }));
    // Without a kind the override does not apply.
    QCOMPARE(CredentialBroker::launchEnv(p, setup, std::nullopt).value(QStringLiteral("CODEX_MODEL")),
        QStringLiteral("gpt-default"));

    // A runtime without a slot for the provider gets nothing.
    p.provider = QStringLiteral("mistral");
    QVERIFY(CredentialBroker::launchEnv(p, setup, QStringLiteral("codex")).isEmpty());
}

void TestCredentialBroker::failingStoreMovesNothing()
{
    auto memory = std::make_unique<MemorySecretStore>();
    MemorySecretStore* store = memory.get();
    SecretStore::setShared(std::move(memory));
    QVERIFY(
        store->write(CredentialBroker::service(), CredentialBroker::legacyAccount(QStringLiteral("openai")), "k", "t"));
    store->setFailing(true);
    QVERIFY(!CredentialBroker::adoptLegacy(QStringLiteral("openai"), QUuid::createUuid()));
    QString error;
    QVERIFY(!CredentialBroker::storeKey(QUuid::createUuid(), QStringLiteral("sk"), &error));
    QVERIFY(error.startsWith(QStringLiteral("存不进系统的密码库：")));
    store->setFailing(false);
    QCOMPARE(store->count(), 1);
    QVERIFY(CredentialBroker::isConfigured(QStringLiteral("openai")));
}

QTEST_GUILESS_MAIN(TestCredentialBroker)
#include "tst_CredentialBroker.moc"
