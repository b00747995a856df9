#include "tasks/TaskEvidence.h"

#include <QtTest>

using K = TaskEvidenceState::Kind;

namespace {
TaskEvidenceSnapshot snap(const QByteArray& body, const QString& id = QStringLiteral("cmd-1"))
{
    return EvidenceLive::snapshot(id, Result<QByteArray>(body));
}
} // namespace

Q_DECLARE_METATYPE(TaskEvidenceState)

class TestTaskEvidence : public QObject {
    Q_OBJECT
private slots:
    void states_data();
    void states();
    void noViewableReasons();
    void lenientFields();
    void failureTexts_data();
    void failureTexts();
    void headline_data();
    void headline();
    void originLine_data();
    void originLine();
};

void TestTaskEvidence::states_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("changesState");
    const QString noSummary = QStringLiteral(
        "后端没有这一趟的改动摘要（has_changes=false）：执行体判定它没有写盘，或这台设备的那版 CLI 不上报改动摘要。");
    QTest::newRow("has_changes without changes")
        << QByteArray(R"({"has_changes":true,"changes_state":"ready"})") << int(K::NoArtifacts) << noSummary << "ready";
    QTest::newRow("changes not an object")
        << QByteArray(R"({"changes":[1]})") << int(K::NoArtifacts) << noSummary << "";
    QTest::newRow("has_changes false but a viewable file")
        << QByteArray(R"({"has_changes":false,"changes":{"files":[{"path":"a.ts","hash":"h1"}]}})") << int(K::Artifacts)
        << ""
        << "";
    QTest::newRow("unavailable with a viewable file")
        << QByteArray(R"({"changes":{"unavailable":"git 不在","files":[{"path":"a.ts","hash":"h1"}]}})")
        << int(K::Artifacts) << ""
        << "";
    QTest::newRow("unavailable, nothing viewable")
        << QByteArray(R"({"changes":{"unavailable":"git 不在","files":[{"path":"a.ts"}]},"changes_state":"x"})")
        << int(K::Unlisted) << "git 不在"
        << "x";
    QTest::newRow("second entry lacks path")
        << QByteArray(R"({"changes":{"files":[{"path":"a.ts","hash":"h"},{"hash":"h2"}]}})") << int(K::NoArtifacts)
        << "这一趟的改动清单是空的。"
        << "";
    QTest::newRow("empty files") << QByteArray(R"({"changes":{}})") << int(K::NoArtifacts) << "这一趟的改动清单是空的。"
                                 << "";
    QTest::newRow("changes_state number")
        << QByteArray(R"({"changes_state":3,"changes":{}})") << int(K::NoArtifacts) << "这一趟的改动清单是空的。"
        << "";
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
    QCOMPARE(s.state.text,
        QStringLiteral("改动了 5 个文件，但没有一份是这里打得开的：logo.png：二进制文件，这里不渲染；"
                       "big.csv：太大了没传；a.ts：执行体没有上传这一份，也没有说为什么"));
    QCOMPARE(s.state.diagnostics(), s.state.text);
}

void TestTaskEvidence::lenientFields()
{
    const auto resp = DeskChangesResponse::fromJson(R"({"changes":{"added":null,"deleted":"3","external_count":2,
        "external_paths":["/etc/x",4],"files":[{"path":"a","size":12.5,"added":7,"hash":"h","binary":"yes"},
        {"path":"b","size":"12"}]}})");
    QVERIFY(resp);
    const DeskChangeSet& set = *resp->changes;
    QCOMPARE(set.added, 0);
    QCOMPARE(set.deleted, 0);
    QCOMPARE(set.externalCount, 2);
    QVERIFY(set.externalPaths.isEmpty());
    QCOMPARE(set.files.size(), 2);
    QCOMPARE(set.files[0].size, 0);
    QCOMPARE(set.files[0].added, 7);
    QCOMPARE(set.files[0].binary, false);
    QCOMPARE(set.files[1].size, 0);
    QCOMPARE(set.viewable().size(), 1);
    const auto s = EvidenceLive::snapshot(QStringLiteral("c"),
        Result<QByteArray>(QByteArray(R"({"changes":{"files":[{"path":"a","hash":"h"},{"path":"b","hash":"i"}]}})")));
    QCOMPARE(s.state.diagnostics(), QStringLiteral("清单里有 2 份可打开的产物"));
    QVERIFY(!DeskChangesResponse::fromJson("[]"));
}

void TestTaskEvidence::failureTexts_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("short id whole") << "ab-cd"
                                    << "拉 /commands/ab-cd/changes 失败：";
    QTest::newRow("uuid cut to 8") << "0123456789abcdef0123456789abcdef0123"
                                   << "拉 /commands/01234567/changes 失败：";
    QTest::newRow("graphemes, not code units")
        << QStringLiteral("🙂🙂🙂🙂🙂🙂🙂🙂🙂🙂")
        << QStringLiteral("拉 /commands/🙂🙂🙂🙂🙂🙂🙂🙂/changes 失败：");
}

void TestTaskEvidence::failureTexts()
{
    QFETCH(QString, id);
    QFETCH(QString, prefix);
    const auto s = EvidenceLive::snapshot(id, Result<QByteArray>(Failure::gateway(GatewayError::fromReply(404, "{}"))));
    QCOMPARE(s.state.kind, K::Failed);
    QCOMPARE(s.state.text, prefix + QStringLiteral("网关回了 404"));
    QCOMPARE(s.changesState, QString());
    const auto bad = EvidenceLive::snapshot(id, Result<QByteArray>(QByteArray("not json")));
    QCOMPARE(bad.state.kind, K::Failed);
    QVERIFY(bad.state.text.startsWith(prefix));
}

void TestTaskEvidence::headline_data()
{
    QTest::addColumn<TaskEvidenceState>("state");
    QTest::addColumn<bool>("live");
    QTest::addColumn<QString>("text");
    DeskFileChange f;
    f.path = QStringLiteral("a");
    f.hash = QStringLiteral("h");
    const auto two = TaskEvidenceState::artifacts({ f, f }, {});
    QTest::newRow("loading live") << TaskEvidenceState::loading() << true << "正在读第一拍…";
    QTest::newRow("loading") << TaskEvidenceState::loading() << false << "正在读…";
    QTest::newRow("none live") << TaskEvidenceState::noArtifacts("x") << true << "尚无变更 —— 正在实时监听";
    QTest::newRow("none") << TaskEvidenceState::noArtifacts("x") << false << "本任务没有文件产物";
    QTest::newRow("unlisted live") << TaskEvidenceState::unlisted("x") << true << "这一趟的产物清单没能算出来";
    QTest::newRow("failed") << TaskEvidenceState::failed("x") << false << "产物暂时无法加载";
    QTest::newRow("two live") << two << true << "产物 2 份";
    QTest::newRow("two") << two << false << "产物 2 份";
}

void TestTaskEvidence::headline()
{
    QFETCH(TaskEvidenceState, state);
    QFETCH(bool, live);
    QFETCH(QString, text);
    QCOMPARE(EvidenceLive::headline(state, live), text);
}

void TestTaskEvidence::originLine_data()
{
    QTest::addColumn<QString>("employee");
    QTest::addColumn<QString>("claimedBy");
    QTest::addColumn<QString>("thisMachine");
    QTest::addColumn<QString>("execution");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << ""
                             << ""
                             << ""
                             << ""
                             << "来源未知（服务端没给员工 / 设备 / execution）";
    QTest::newRow("execution only") << ""
                                    << ""
                                    << ""
                                    << "abcdefghij"
                                    << "execution abcdefgh";
    QTest::newRow("claimant, empty this machine") << ""
                                                  << "cli-studio-mac"
                                                  << ""
                                                  << ""
                                                  << "studio mac";
    QTest::newRow("this machine") << "小林"
                                  << "cli-box"
                                  << "cli-box"
                                  << "e1"
                                  << "小林 · 这台电脑 · execution e1";
    QTest::newRow("other machine") << "小林"
                                   << "desktop-lab.local"
                                   << "cli-box"
                                   << ""
                                   << "小林 · lab";
}

void TestTaskEvidence::originLine()
{
    QFETCH(QString, employee);
    QFETCH(QString, claimedBy);
    QFETCH(QString, thisMachine);
    QFETCH(QString, execution);
    QFETCH(QString, text);
    QCOMPARE(EvidenceLive::originLine(employee, claimedBy, thisMachine, execution), text);
}

QTEST_GUILESS_MAIN(TestTaskEvidence)
#include "tst_TaskEvidence.moc"
