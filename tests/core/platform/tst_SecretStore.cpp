// The platform services behind libraries opened when first needed: the
// key store (memory and Secret Service), the QR encoder, and the product's home.
#include "core/platform/QrEncoder.h"
#include "core/platform/SecretStore.h"
#include "core/platform/TolvarinePaths.h"

#include "TempHome.h"

#include <QFileInfo>
#include <QUuid>
#include <QtTest>

class TestSecretStore : public QObject {
    Q_OBJECT
private slots:
    void lifecycle_data()
    {
        QTest::addColumn<bool>("real");
        QTest::newRow("memory") << false;
        QTest::newRow("secret service") << true;
    }

    void lifecycle()
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

    void tolvarinePaths()
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

    void qrLevels_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("short") << QByteArray("tolvarine://pair-device?v=1");
        QTest::newRow("utf-8 bytes") << QStringLiteral("工作区 ✓ %20 #p=").toUtf8();
        QTest::newRow("long") << QByteArray(600, 'x');
    }

    // Stronger correction never needs a smaller symbol, and every symbol is a
    // well-formed square of 21 + 4k modules with the finder pattern's dark corner.
    void qrLevels()
    {
        QFETCH(QByteArray, payload);
        int previous = 21;
        for (const char* level : { "L", "M", "Q", "H" }) {
            const QImage image = QrEncoder::encode(payload, QString::fromLatin1(level));
            QVERIFY2(!image.isNull(), level);
            QCOMPARE(image.width(), image.height());
            QVERIFY(image.width() >= previous && (image.width() - 21) % 4 == 0);
            previous = image.width();
            QVERIFY(qGray(image.pixel(0, 0)) == 0 && qGray(image.pixel(1, 1)) == 255);
        }
    }

    void qrRefusals_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("level");
        QTest::newRow("empty payload") << QByteArray() << "H";
        QTest::newRow("unknown level") << QByteArray("abc") << "X";
        QTest::newRow("too large for H") << QByteArray(1300, 'y') << "H";
        QTest::newRow("too large for any") << QByteArray(3000, 'y') << "L";
    }

    void qrRefusals()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, level);
        QVERIFY(QrEncoder::encode(payload, level).isNull());
    }
};

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_SecretStore.moc"
