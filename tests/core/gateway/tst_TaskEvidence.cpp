#include "core/gateway/TaskEvidence.h"

#include <QtTest>

using K = TaskEvidenceState::Kind;

namespace {
TaskEvidenceSnapshot snap(const QByteArray& body, const QString& id = QStringLiteral("cmd-1"))
{
    return EvidenceLive::snapshot(id, Result<QByteArray>(body));
}
} // namespace

class TestTaskEvidence : public QObject {
    Q_OBJECT
private slots:
    void states_data();
    void states();
    void noViewableReasons();
    void lenientFields();
    void failureTexts_data();
    void failureTexts();
    void originLine_data();
    void originLine();
};

void TestTaskEvidence::states_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text"); // not compared for artifacts
    QTest::addColumn<QString>("changesState");
    const QString noSummary = QStringLiteral(
        "后端没有这一趟的改动摘要（has_changes=false）：执行体判定它没有写盘，或这台设备的那版 CLI 不上报改动摘要。");
    const QString emptyList = QStringLiteral("这一趟的改动清单是空的。");
    // What the files say wins over the flags beside them.
    QTest::newRow("has_changes without changes")
        << QByteArray(R"({"has_changes":true,"changes_state":"ready"})") << int(K::NoArtifacts) << noSummary << "ready";
    QTest::newRow("has_changes false but a viewable file")
        << QByteArray(R"({"has_changes":false,"changes":{"files":[{"path":"a.ts","hash":"h1"}]}})") << int(K::Artifacts)
        << QString() << QString();
    QTest::newRow("unavailable with a viewable file")
        << QByteArray(R"({"changes":{"unavailable":"git 不在","files":[{"path":"a.ts","hash":"h1"}]}})")
        << int(K::Artifacts) << QString() << QString();
    QTest::newRow("unavailable, nothing viewable")
        << QByteArray(R"({"changes":{"unavailable":"git 不在","files":[{"path":"a.ts"}]},"changes_state":"x"})")
        << int(K::Unlisted) << QStringLiteral("git 不在") << "x";
    // One bad entry spoils the list; a state of the wrong type reads as none.
    QTest::newRow("second entry lacks path")
        << QByteArray(R"({"changes":{"files":[{"path":"a.ts","hash":"h"},{"hash":"h2"}]}})") << int(K::NoArtifacts)
        << emptyList << QString();
}

void TestTaskEvidence::states()
{
    QFETCH(QByteArray, body);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QString, changesState);
    const auto s = snap(body);
    QCOMPARE(int(s.state.kind), kind);
    if (kind != int(K::Artifacts))
        QCOMPARE(s.state.text, text);
    QCOMPARE(s.changesState, changesState);
}

void TestTaskEvidence::noViewableReasons()
{
    const auto s = snap(R"({"changes":{"files":[
        {"path":"logo.png","binary":true},
        {"path":"big.csv","artifact_note":"太大了没传"},
        {"path":"a.ts"},
        {"path":"b.ts"},
        {"path":"c.ts"}]}})");
    QCOMPARE(s.state.kind, K::NoArtifacts);
    // At most three reasons, each file's own.
    QCOMPARE(s.state.text,
        QStringLiteral("改动了 5 个文件，但没有一份是这里打得开的：logo.png：二进制文件，这里不渲染；"
                       "big.csv：太大了没传；a.ts：执行体没有上传这一份，也没有说为什么"));
    QCOMPARE(s.state.diagnostics(), s.state.text);
}

// Fields of the wrong type read as absent rather than failing the whole reply.
void TestTaskEvidence::lenientFields()
{
    const auto resp = DeskChangesResponse::fromJson(R"({"changes":{"added":null,"deleted":"3","external_count":2,
        "external_paths":["/etc/x",4],"files":[{"path":"a","size":12.5,"added":7,"hash":"h","binary":"yes"},
        {"path":"b","size":"12"}]}})");
    QVERIFY(resp);
    const DeskChangeSet& set = *resp->changes;
    QCOMPARE((QList<qint64> { set.added, set.deleted, set.externalCount }), (QList<qint64> { 0, 0, 2 }));
    QVERIFY(set.externalPaths.isEmpty());
    QCOMPARE(set.files.size(), 2);
    QCOMPARE((QList<qint64> { set.files[0].size, set.files[0].added, set.files[1].size }), (QList<qint64> { 0, 7, 0 }));
    QCOMPARE(set.files[0].binary, false);
    QCOMPARE(set.viewable().size(), 1);
    QVERIFY(!DeskChangesResponse::fromJson("[]"));
}

void TestTaskEvidence::failureTexts_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("shown");
    QTest::newRow("short id whole") << QStringLiteral("ab-cd") << QStringLiteral("ab-cd");
    QTest::newRow("uuid cut to 8") << QStringLiteral("0123456789abcdef0123456789abcdef0123")
                                   << QStringLiteral("01234567");
    QTest::newRow("graphemes, not code units") << QStringLiteral("🙂🙂🙂🙂🙂🙂🙂🙂🙂🙂")
                                               << QStringLiteral("🙂🙂🙂🙂🙂🙂🙂🙂");
}

void TestTaskEvidence::failureTexts()
{
    QFETCH(QString, id);
    QFETCH(QString, shown);
    const QString prefix = QStringLiteral("拉 /commands/%1/changes 失败：").arg(shown);
    const auto s = EvidenceLive::snapshot(id, Result<QByteArray>(Failure::gateway(GatewayError::fromReply(404, "{}"))));
    QCOMPARE(s.state.kind, K::Failed);
    QCOMPARE(s.state.text, prefix + QStringLiteral("网关回了 404"));
    QCOMPARE(s.changesState, QString());
    const auto bad = snap("not json", id);
    QCOMPARE(bad.state.kind, K::Failed);
    QVERIFY(bad.state.text.startsWith(prefix));
}

void TestTaskEvidence::originLine_data()
{
    QTest::addColumn<QStringList>("in"); // employee, claimed by, this machine, execution
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << QStringList { "", "", "", "" } << "来源未知（服务端没给员工 / 设备 / execution）";
    QTest::newRow("execution only") << QStringList { "", "", "", "abcdefghij" } << "execution abcdefgh";
    QTest::newRow("claimant, empty this machine") << QStringList { "", "cli-studio-mac", "", "" } << "studio mac";
    QTest::newRow("this machine") << QStringList { "小林", "cli-box", "cli-box", "e1" }
                                  << "小林 · 这台电脑 · execution e1";
    QTest::newRow("other machine") << QStringList { "小林", "desktop-lab.local", "cli-box", "" } << "小林 · lab";
}

void TestTaskEvidence::originLine()
{
    QFETCH(QStringList, in);
    QFETCH(QString, text);
    QCOMPARE(EvidenceLive::originLine(in[0], in[1], in[2], in[3]), text);
}

QTEST_GUILESS_MAIN(TestTaskEvidence)
#include "tst_TaskEvidence.moc"
