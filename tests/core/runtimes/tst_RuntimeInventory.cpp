#include "core/platform/DisplayText.h"
#include "core/runtimes/RuntimeInventory.h"
#include "core/runtimes/RuntimeRow.h"

#include <QtTest>

namespace {

QByteArray report(const QByteArray& entry, const QByteArray& counts = R"({"ready":1})")
{
    return R"({"runtimes":[)" + entry + R"(],"counts":)" + counts + "}";
}

QByteArray entry(const QByteArray& usability = "ready",
    const QByteArray& health = R"({"installed":true,"healthy":true,"version":"1.2.3","path":"/usr/bin/codex"})",
    const QByteArray& caps = R"({"yes":3})", const QByteArray& auth = R"({"state":"ok","source":"env"})")
{
    return R"({"kind":"codex","display":"Codex","adapter":"cli","health":)" + health + R"(,"auth":)" + auth
        + R"(,"usability":")" + usability + R"(","protocol":false,"cap_counts":)" + caps + "}";
}

RuntimeRow row(const QByteArray& json)
{
    const auto inv = RuntimeInventory::decode(json);
    return inv && !inv->runtimes.isEmpty() ? RuntimeRow(inv->runtimes.first()) : RuntimeRow();
}

} // namespace

class TestRuntimeInventory : public QObject {
    Q_OBJECT
private slots:
    void decoding_data();
    void decoding();
    void summary_data();
    void summary();
    void versionAndDetail_data();
    void versionAndDetail();
    void diagnosticText();
    void toolTextsCut_data();
    void toolTextsCut();
};

void TestRuntimeInventory::decoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("rows"); // -1: the whole report fails
    QTest::newRow("one entry") << report(entry()) << 1;
    QTest::newRow("no counts") << QByteArray(R"({"runtimes":[]})") << -1;
    QTest::newRow("count not integral") << report(entry(), R"({"ready":1.5})") << -1;
    QTest::newRow("entry without protocol") << report(QByteArray(entry()).replace(R"("protocol":false,)", "")) << -1;
    QTest::newRow("optional null is absent")
        << report(entry("ready", R"({"installed":true,"healthy":true,"version":null})")) << 1;
    QTest::newRow("second entry bad fails all") << report(entry() + ",{}") << -1;
    QTest::newRow("not json") << QByteArray("warning: old\n{}") << -1;
}

void TestRuntimeInventory::decoding()
{
    QFETCH(QByteArray, json);
    QFETCH(int, rows);
    QString error;
    const auto inv = RuntimeInventory::decode(json, &error);
    QCOMPARE(inv ? int(inv->runtimes.size()) : -1, rows);
    QCOMPARE(error.isEmpty(), bool(inv));
}

void TestRuntimeInventory::summary_data()
{
    QTest::addColumn<QByteArray>("caps");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all five") << QByteArray(R"({"yes":3,"no":1,"unknown":2,"unenforceable":1,"auth-required":4})")
                              << "3 格支持 · 1 格约束不住 · 4 格卡在鉴权 · 1 格不支持 · 2 格没验过";
    QTest::newRow("zeros left out") << QByteArray(R"({"yes":0,"no":0,"unknown":5})") << "0 格支持 · 5 格没验过";
}

void TestRuntimeInventory::summary()
{
    QFETCH(QByteArray, caps);
    QFETCH(QString, expected);
    QCOMPARE(row(report(entry("ready", R"({"installed":true,"healthy":true})", caps))).capabilitySummary(), expected);
}

void TestRuntimeInventory::versionAndDetail_data()
{
    QTest::addColumn<QByteArray>("health");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("detailLabel"); // "" when no such row
    const auto add = [](const char* name, const QByteArray& health, const QString& version, const QString& label) {
        QTest::newRow(name) << health << version << label;
    };
    add("empty version, path", R"({"installed":true,"healthy":true,"version":"","path":"/bin/x"})", "—", "可执行文件");
    add("empty path wins over error", R"({"installed":false,"healthy":false,"path":"","error":"boom"})", "—", "");
    add("error alone", R"({"installed":false,"healthy":false,"version":"2","error":"not on PATH"})", "2", "探测说明");
}

void TestRuntimeInventory::versionAndDetail()
{
    QFETCH(QByteArray, health);
    QFETCH(QString, version);
    QFETCH(QString, detailLabel);
    const RuntimeRow r = row(report(entry("ready", health)));
    QCOMPARE(r.version, version);
    QString found;
    for (const auto& [label, value] : r.diagnosticRows()) {
        if (label == QStringLiteral("可执行文件") || label == QStringLiteral("探测说明"))
            found = label;
    }
    QCOMPARE(found, detailLabel);
}

void TestRuntimeInventory::diagnosticText()
{
    const RuntimeRow r = row(report(entry("login_required",
        R"({"installed":true,"healthy":true,"version":"1.0","path":"/usr/bin/codex"})", R"({"yes":2,"no":1})",
        R"({"state":"logged_out","source":"probe","hint":"登录一下","login":["codex","login"]})")));
    QCOMPARE(r.usability, RuntimeUsability::loginRequired);
    QCOMPARE(r.diagnosticText(),
        QStringLiteral("Codex（codex）\n版本：1.0\n可执行文件：/usr/bin/codex\n鉴权状态：logged_out\n"
                       "判定依据：probe\n怎么修：登录一下\n能力：2 格支持 · 1 格不支持\n登录命令：codex login"));
    // An empty login list gives no login row.
    const RuntimeRow noLogin = row(
        report(entry("ready", R"({"installed":true,"healthy":true})", "{}", R"({"state":"","source":"","login":[]})")));
    QCOMPARE(noLogin.diagnosticRows().size(), 2);
    // Usability words are matched exactly; any other reads as unknown.
    QCOMPARE(row(report(entry("Ready"))).usability, RuntimeUsability::unknown);
}

void TestRuntimeInventory::toolTextsCut_data()
{
    // A runtime's texts as long as a report can hold, led by a right-to-left override.
    const QByteArray said = QString(QChar(0x202E) + QString(200000, QLatin1Char('x'))).toUtf8();
    const QByteArray health
        = R"({"installed":false,"healthy":false,"version":")" + said + R"(","error":")" + said + R"("})";
    const QByteArray auth = R"({"state":"","source":"","hint":")" + said + R"(","login_note":")" + said + R"("})";
    const QByteArray json = report(QByteArray(entry("login_required", health, "{}", auth)).replace("Codex", said));
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("field");
    QTest::addColumn<qsizetype>("length");
    QTest::newRow("display") << json << "display" << DisplayText::kNameLength;
    QTest::newRow("version") << json << "version" << DisplayText::kNameLength;
    QTest::newRow("error") << json << "detail" << DisplayText::kTextLength;
    QTest::newRow("hint") << json << "authHint" << DisplayText::kTextLength;
    QTest::newRow("login note") << json << "loginNote" << DisplayText::kTextLength;
}

void TestRuntimeInventory::toolTextsCut()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, field);
    QFETCH(qsizetype, length);
    const RuntimeRow r = row(json);
    const QHash<QString, QString> shown { { "display", r.display }, { "version", r.version }, { "detail", r.detail },
        { "authHint", r.authHint }, { "loginNote", r.loginNote } };
    const QString text = shown.value(field);
    QVERIFY(text.endsWith(QStringLiteral("…")));
    QVERIFY(text.size() <= length + 8);
    // A name cannot turn around what follows it.
    if (length == DisplayText::kNameLength)
        QVERIFY(text.startsWith(QStringLiteral("[U+202E]")));
}

QTEST_GUILESS_MAIN(TestRuntimeInventory)
#include "tst_RuntimeInventory.moc"
