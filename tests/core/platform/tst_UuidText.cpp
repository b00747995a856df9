#include "core/platform/UuidText.h"

#include <QtTest>

// Users' stores and secret store entries hold these spellings already.
class TestUuidText : public QObject {
    Q_OBJECT
private slots:
    void spellings()
    {
        const QUuid id = QUuid::fromString(QStringLiteral("{1b4e28ba-2fa1-11d2-883f-0016D3CCA427}"));
        QCOMPARE(UuidText::stored(id), QStringLiteral("1B4E28BA-2FA1-11D2-883F-0016D3CCA427"));
        QCOMPARE(UuidText::plain(id), QStringLiteral("1b4e28ba-2fa1-11d2-883f-0016d3cca427"));
        // Both read back as the same id.
        QCOMPARE(QUuid::fromString(UuidText::stored(id)), id);
        QCOMPARE(QUuid::fromString(UuidText::plain(id)), id);
    }
};

QTEST_GUILESS_MAIN(TestUuidText)
#include "tst_UuidText.moc"
