#include "core/runtimes/RuntimeEnablement.h"
#include "core/runtimes/RuntimeEnablementStore.h"

#include "TempHome.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

namespace {

RuntimeRow row(const QString& kind, const QString& display)
{
    RuntimeRow r;
    r.kind = kind;
    r.display = display;
    return r;
}

QByteArray fileText()
{
    QFile f(RuntimeEnablementStore::filePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// An undecodable file (every kind reads as enabled, the file is kept aside) is
// covered for every stored file by tst_BadStoredFiles.
class TestRuntimeEnablement : public QObject {
    Q_OBJECT
private slots:
    void defaultsAndPersistence();
    void writeFailureIsReported();
};

void TestRuntimeEnablement::defaultsAndPersistence()
{
    TempHome home;
    const QList<RuntimeRow> rows { row(QStringLiteral("codex"), QStringLiteral("Codex")),
        row(QStringLiteral("aider"), QStringLiteral("Aider")) };
    RuntimeEnablement model;
    QSignalSpy notices(&model, &RuntimeEnablement::notice);
    model.reload(rows);
    QCOMPARE(model.enabled(),
        (QMap<QString, bool> { { QStringLiteral("codex"), true }, { QStringLiteral("aider"), true } }));

    model.setEnabled(rows[0], false, rows);
    QCOMPARE(fileText(), QByteArray("{\n    \"codex\": false\n}\n"));
    QCOMPARE(notices.takeFirst(),
        (QVariantList { QStringLiteral("Codex 已停用 —— 不再派活给它。没有卸载、没有退出登录、凭据也还在"), false }));
    QCOMPARE(model.enabled().value(QStringLiteral("codex")), false);

    model.setEnabled(rows[1], false, rows);
    model.setEnabled(rows[0], true, rows);
    QCOMPARE(fileText(), QByteArray("{\n    \"aider\": false,\n    \"codex\": true\n}\n"));
    QCOMPARE(notices.last().first().toString(), QStringLiteral("Codex 已启用 —— Tolvarine 可以把活派给它了"));

    // Kinds no longer in the inventory stay in the file but not in the map.
    model.reload({ rows[0] });
    QCOMPARE(model.enabled(), (QMap<QString, bool> { { QStringLiteral("codex"), true } }));
    QVERIFY(fileText().contains("aider"));
}

void TestRuntimeEnablement::writeFailureIsReported()
{
    TempHome home;
    // A folder where the file should be: the replace fails.
    QDir().mkpath(RuntimeEnablementStore::filePath());
    RuntimeEnablement model;
    QSignalSpy notices(&model, &RuntimeEnablement::notice);
    QSignalSpy changes(&model, &RuntimeEnablement::changed);
    model.setEnabled(row(QStringLiteral("codex"), QStringLiteral("Codex")), false, {});
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.first().first().toString().startsWith(QStringLiteral("改不了启用状态：")));
    QCOMPARE(notices.first().at(1).toBool(), true);
    QCOMPARE(changes.size(), 0);
}

QTEST_GUILESS_MAIN(TestRuntimeEnablement)
#include "tst_RuntimeEnablement.moc"
