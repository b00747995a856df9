#include "core/workspaces/Relocation.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include "TempHome.h"

#include <QCoroTask>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

void pairFolder(const TempHome& home, const QString& ws, const QString& folder)
{
    const QJsonObject o { { "api", "http://127.0.0.1:1" }, { "workspace", ws }, { "token", "t" }, { "path", folder } };
    home.writeFile(".tolvarine/workspaces/" + ws + ".json", QJsonDocument(o).toJson());
}

// The argv of every run the stand-in logged.
QList<QStringList> calls(const QString& dir)
{
    QList<QStringList> out;
    QFile f(dir + "/calls.jsonl");
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList argv;
        for (const QJsonValue& v : QJsonDocument::fromJson(line).object()["argv"].toArray())
            argv << v.toString();
        out << argv;
    }
    return out;
}

} // namespace

class TestRelocationRun : public QObject {
    Q_OBJECT
private slots:
    void discoverAndApply();
    void oldToolAndFailures();
};

void TestRelocationRun::discoverAndApply()
{
    TempHome home;
    home.installTool(Sim::companion());
    const QString steer = home.filePath("steer");
    QDir().mkpath(steer);
    qputenv("BRENLOW_SIM_DIR", QFile::encodeName(steer));

    const QString moved = home.filePath("code/archive/shop");
    QDir().mkpath(moved);
    pairFolder(home, "ws-shop", home.filePath("code/shop"));

    const auto found = QCoro::waitFor(Relocation::discover("ws-shop"));
    QVERIFY2(found.ok, qPrintable(found.error));
    QCOMPARE(found.path, moved);
    QVERIFY(found.candidates.isEmpty());

    const auto applied = QCoro::waitFor(Relocation::apply("ws-shop", moved));
    QVERIFY2(applied.ok, qPrintable(applied.error));
    QCOMPARE(applied.path, moved);

    // The tool rebound the pairing file; the catalogue sees the folder again.
    WorkspaceCatalog catalog;
    QCoro::waitFor(catalog.reload(false));
    QVERIFY(catalog.selected()->localPathExists());

    const auto argv = calls(steer);
    QCOMPARE(argv.size(), 2);
    QCOMPARE(argv[0].mid(argv[0].size() - 6), Relocation::discoverArguments("ws-shop"));
    QCOMPARE(argv[1].mid(argv[1].size() - 6), Relocation::applyArguments("ws-shop", moved));
    qunsetenv("BRENLOW_SIM_DIR");
}

void TestRelocationRun::oldToolAndFailures()
{
    TempHome home;
    const QString steer = home.filePath("steer");
    QDir().mkpath(steer);
    qputenv("BRENLOW_SIM_DIR", QFile::encodeName(steer));

    // No tool at all.
    auto none = QCoro::waitFor(Relocation::discover("ws-x"));
    QCOMPARE(none, (Relocation::Discovery { false, {}, {}, Relocation::silentToolText() }));

    home.installTool(Sim::companion());
    // An old tool that rejects --json with its usage text: that text is the error.
    const QByteArray usage = "usage: brenlow workspace relocate <folder>\n";
    home.writeFile("steer/workspace-relocate.out", usage);
    home.writeFile("steer/workspace-relocate.code", "2");
    auto old = QCoro::waitFor(Relocation::apply("ws-x", "/tmp"));
    QVERIFY(!old.ok);
    QCOMPARE(old.error, QString::fromUtf8(usage));

    // A non-zero exit with an answer line is the answer.
    home.writeFile("steer/workspace-relocate.out", "{\"ok\":true,\"path\":\"/srv/x\"}\n");
    auto answered = QCoro::waitFor(Relocation::discover("ws-x"));
    QVERIFY(answered.ok);
    QCOMPARE(answered.path, QStringLiteral("/srv/x"));

    // A tool that hangs is stopped and says so.
    home.writeFile("steer/workspace-relocate.delay_ms", "30000");
    auto hung = QCoro::waitFor(Relocation::discover("ws-x", 1000ms));
    QVERIFY(!hung.ok);
    QVERIFY2(hung.error.contains(QStringLiteral("已经把它停掉了")), qPrintable(hung.error));
    qunsetenv("BRENLOW_SIM_DIR");
}

QTEST_GUILESS_MAIN(TestRelocationRun)
#include "tst_RelocationRun.moc"
