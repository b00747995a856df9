#include "core/platform/SecretStore.h"
#include "core/platform/TolvarinePaths.h"

#include "TempHome.h"

#include <QFileInfo>
#include <QUuid>
#include <QtTest>

class TestSecretStore : public QObject {
    Q_OBJECT
private slots:
    void lifecycle_data();
    void lifecycle();
    void tolvarinePaths();
};

void TestSecretStore::lifecycle_data()
{
    QTest::addColumn<bool>("real");
    QTest::newRow("memory") << false;
    QTest::newRow("secret service") << true;
}

void TestSecretStore::lifecycle()
{
    QFETCH(bool, real);
    std::unique_ptr<SecretStore> store;
    if (real) {
        // scripts/test always provides a session bus with an unlocked keyring;
        // a developer running one test by hand may not have one.
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
            && !qEnvironmentVariableIsSet("TOLVARINE_REQUIRE_KEYRING"))
            QSKIP("no D-Bus session");
        store = std::make_unique<LibsecretStore>();
    } else {
        store = std::make_unique<MemorySecretStore>();
    }
    const QString service = QStringLiteral("tolvarine-desktop-test");
    const QString account = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QVERIFY(!store->read(service, account));

    QString error;
    QVERIFY2(store->write(service, account, "sk-first", "Tolvarine test", &error), qPrintable(error));
    QCOMPARE(store->read(service, account), std::optional<QByteArray>("sk-first"));
    QVERIFY(!store->read(service, account + "x"));
    QVERIFY(!store->read(service + "x", account));

    QVERIFY2(store->write(service, account, "sk-second 密钥", "Tolvarine test", &error), qPrintable(error));
    QCOMPARE(store->read(service, account), std::optional<QByteArray>(QStringLiteral("sk-second 密钥").toUtf8()));

    QVERIFY2(store->remove(service, account, &error), qPrintable(error));
    QVERIFY(!store->contains(service, account));
    QVERIFY(store->remove(service, account)); // nothing left to remove is not a failure
}

void TestSecretStore::tolvarinePaths()
{
    TempHome home;
    QCOMPARE(TolvarinePaths::dotTolvarine(), home.filePath(".tolvarine"));
    QVERIFY(QFileInfo(home.filePath(".tolvarine")).isDir());
    QTemporaryDir other;
    qputenv("TOLVARINE_HOME", QFile::encodeName(other.path()));
    QCOMPARE(TolvarinePaths::dotTolvarine(), other.path() + "/.tolvarine");
    qputenv("TOLVARINE_HOME", "");
    QCOMPARE(TolvarinePaths::productHome(), home.path());
}

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_SecretStore.moc"
