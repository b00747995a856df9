// libsecret and libqrencode are opened on first use, so the binary starts
// without them: a missing one must fail where it is needed, with a message.
// A process of its own, so that both count as missing from their first use.
#include "core/platform/LateLibrary.h"
#include "core/platform/QrEncoder.h"
#include "core/platform/SecretStore.h"
#include "core/workspaces/QRImage.h"

#include <QRegularExpression>
#include <QtTest>

class TestMissingLibraries : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        LateLibrary::setMissingForTesting("libsecret-1.so.0");
        LateLibrary::setMissingForTesting("libqrencode.so.4");
    }

    void secretStoreSaysWhatIsMissing()
    {
        LibsecretStore store;
        QString error;
        QVERIFY(!store.write(QStringLiteral("s"), QStringLiteral("a"), "key", QStringLiteral("label"), &error));
        QCOMPARE(error, QStringLiteral("这台电脑上没有 libsecret（系统密码库的接口），装上 libsecret-1-0 再试"));
        error.clear();
        QVERIFY(!store.remove(QStringLiteral("s"), QStringLiteral("a"), &error));
        QVERIFY(error.contains(QStringLiteral("libsecret")));
        QVERIFY(!store.read(QStringLiteral("s"), QStringLiteral("a")));
    }

    // The sheet shows its failure text for a null image and the link stays usable.
    void qrCodeFailsWithoutCrashing()
    {
        QVERIFY(QrEncoder::encode("tolvarine://pair-device?v=1", QStringLiteral("M")).isNull());
        QVERIFY(QRImage::make(QStringLiteral("tolvarine://pair-device?v=1"), 330).isNull());
    }
};

QTEST_GUILESS_MAIN(TestMissingLibraries)
#include "tst_MissingLibraries.moc"
