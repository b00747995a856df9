#include "core/gateway/CLI.h"
#include "core/workspaces/RelocationState.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include "SimTool.h"
#include "TempHome.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <QCoroTask>

namespace {

// A workspace paired at ~/code/<name>, a folder that does not exist.
void pairMissing(const TempHome& home, const QString& ws, const QString& name)
{
    const QJsonObject o { { "api", "http://127.0.0.1:1" }, { "workspace", ws }, { "token", "t" }, { "name", name },
        { "path", home.filePath("code/" + name) } };
    home.writeFile(".tolvarine/workspaces/" + ws + ".json", QJsonDocument(o).toJson());
}

QString pathOf(const WorkspaceCatalog& catalog, const QString& ws)
{
    for (const WorkspaceRecord& r : catalog.records())
        if (r.id() == ws)
            return r.config.path.value_or(QString());
    return {};
}

} // namespace

class TestRelocationState : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_home = std::make_unique<TempHome>();
        m_tool = std::make_unique<SimTool>(*m_home);
        pairMissing(*m_home, "ws-shop", "shop");
    }

    void cleanup()
    {
        m_state.reset();
        m_catalog.reset();
        m_tool.reset();
        m_home.reset();
    }

    void discovery_data()
    {
        QTest::addColumn<QStringList>("folders"); // made under the home
        QTest::addColumn<QByteArray>("answer"); // steered output; empty: the tool searches
        QTest::addColumn<QString>("pending");
        QTest::addColumn<QStringList>("candidates");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("crumb"); // "~" stands for the home

        QTest::newRow("single match") << QStringList { "archive/shop" } << QByteArray() << "~/archive/shop"
                                      << QStringList() << ""
                                      << "discover 唯一命中 ~/archive/shop，等用户确认";
        QTest::newRow("candidates, in the tool's order")
            << QStringList { "b/shop", "a/shop" } << QByteArray() << "" << QStringList { "~/a/shop", "~/b/shop" } << ""
            << "discover 多候选 2 个";
        QTest::newRow("none: the tool's reason")
            << QStringList() << QByteArray() << "" << QStringList() << "在 ~ 下面没找到叫 shop 的目录"
            << "discover 没找着 · cand=0 · CLI 说：在 ~ 下面没找到叫 shop 的目录";
        // One candidate is not a match: it is never offered.
        QTest::newRow("one candidate, no reason")
            << QStringList() << QByteArray("{\"ok\":false,\"candidates\":[\"/srv/shop\"]}\n") << "" << QStringList()
            << "自动找了一遍，没找着。"
            << "discover 没找着 · cand=1 · CLI 说：\n";
        QTest::newRow("a match wins over candidates")
            << QStringList()
            << QByteArray("{\"ok\":true,\"path\":\"/srv/shop\",\"candidates\":[\"/a\",\"/b\",\"/c\"]}\n") << "/srv/shop"
            << QStringList() << ""
            << "discover 唯一命中 /srv/shop，等用户确认";
    }

    void discovery()
    {
        QFETCH(QStringList, folders);
        QFETCH(QByteArray, answer);
        QFETCH(QString, pending);
        QFETCH(QStringList, candidates);
        QFETCH(QString, note);
        QFETCH(QString, crumb);
        const auto home = [this](QString s) { return s.replace(QLatin1Char('~'), m_home->path()); };
        for (const QString& f : folders)
            QVERIFY(QDir().mkpath(m_home->filePath(f)));
        if (!answer.isEmpty())
            m_tool->answer("workspace-relocate", answer);

        start();
        QCOMPARE(m_state->relocatePending(), home(pending));
        QStringList expected;
        for (const QString& c : candidates)
            expected << home(c);
        QCOMPARE(m_state->relocateCandidates(), expected);
        QCOMPARE(m_state->relocateNote(), home(note));
        QVERIFY2(TempHome::crumbs().contains(home(crumb)), qPrintable(TempHome::crumbs()));

        // The retry searches again and says so meanwhile; the automatic search was the only one.
        QSignalSpy searched(m_state.get(), &RelocationState::discoveryFinished);
        m_state->autoRelocate();
        QCOMPARE(m_state->relocateNote(), QStringLiteral("正在找…"));
        QVERIFY(m_state->relocateBusy());
        QTRY_COMPARE_WITH_TIMEOUT(searched.size(), 1, 20000);
        QCOMPARE(m_state->relocatePending(), home(pending));
        QCOMPARE(m_tool->argvs().filter("--dry-run").size(), 2);

        // "不是" leaves the user to point at the folder by hand.
        m_state->rejectMatch();
        QCOMPARE(m_state->relocatePending(), QString());
        QCOMPARE(m_state->relocateNote(), QStringLiteral("那就手动指一次吧。"));
        QCOMPARE(m_state->relocateCandidates(), expected);
    }

    void rebinding_data()
    {
        QTest::addColumn<QByteArray>("refusal"); // steered apply answer; empty: the tool re-binds
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("crumb");

        QTest::newRow("accepted") << QByteArray() << ""
                                  << "";
        // A refusal without a reason must not look like success.
        QTest::newRow("refused without a reason")
            << QByteArray("{\"ok\":false}\n") << RelocationState::refusedWithoutReason()
            << "confirmRelocation 被拒：" + RelocationState::refusedWithoutReason();
        const QString reason = QString(70, QLatin1Char('x')) + QStringLiteral("目录");
        QTest::newRow("refused with a long reason") << QByteArray("{\"ok\":false,\"error\":\"") + reason.toUtf8()
                + "\"}\n" << reason << "confirmRelocation 被拒：" + reason.left(60) + "\n";
    }

    void rebinding()
    {
        QFETCH(QByteArray, refusal);
        QFETCH(QString, note);
        QFETCH(QString, crumb);
        const QString moved = m_home->filePath("archive/shop");
        QVERIFY(QDir().mkpath(moved));
        start();
        QCOMPARE(m_state->relocatePending(), moved);
        if (!refusal.isEmpty())
            m_tool->answer("workspace-relocate", refusal);

        QSignalSpy finished(m_state.get(), &RelocationState::relocationFinished);
        m_state->confirmRelocation(m_state->relocatePending());
        QCOMPARE(m_state->relocatePending(), QString());
        QCOMPARE(m_state->relocateNote(), "正在恢复到 " + moved + "…");
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(finished.first().at(1).toBool(), refusal.isEmpty());
        QVERIFY(TempHome::crumbs().contains("confirmRelocation → " + moved));
        if (refusal.isEmpty()) {
            // Re-bound and reloaded: the folder exists, the banner goes, the search stays used.
            QCOMPARE(pathOf(*m_catalog, "ws-shop"), moved);
            QVERIFY(!m_state->shown());
            QVERIFY(m_state->autoTried().contains("ws-shop"));
            QVERIFY(m_tool->argvs().contains("workspaces"));
        } else {
            QVERIFY(m_state->shown());
            QCOMPARE(m_state->relocateNote(), note);
            QVERIFY2(TempHome::crumbs().contains(crumb), qPrintable(TempHome::crumbs()));
            QCOMPARE(pathOf(*m_catalog, "ws-shop"), m_home->filePath("code/shop"));
        }
    }

    void handPicked()
    {
        const QString chosen = m_home->filePath("picked/shop");
        QVERIFY(QDir().mkpath(chosen));
        start();
        int asked = 0;
        std::optional<QString> answer;
        const auto picker = [&asked, &answer]() -> QCoro::Task<std::optional<QString>> {
            ++asked;
            co_return answer;
        };
        QSignalSpy finished(m_state.get(), &RelocationState::relocationFinished);

        // Cancelled: nothing happens. The launch argument as the last one is no folder.
        m_state->setLaunchArguments({ "tolvarine-desktop", "-ZRKRelocateTo" });
        QCoro::waitFor(m_state->pickNewLocation(picker));
        QCOMPARE(asked, 1);
        QVERIFY(finished.isEmpty());
        // The log names the folder picker that runs here.
        QVERIFY(TempHome::crumbs().contains("pickNewLocation: 走选目录的对话框 QFileDialog"));
        QVERIFY(!TempHome::crumbs().contains("NSOpenPanel"));

        // A launch argument replaces the picker, relative to the working folder.
        const QString before = QDir::currentPath();
        QDir::setCurrent(m_home->path());
        m_tool->answer("workspace-relocate", "{\"ok\":false,\"error\":\"不对\"}\n");
        m_state->setLaunchArguments({ "tolvarine-desktop", "-ZRKRelocateTo", "picked/shop" });
        QCoro::waitFor(m_state->pickNewLocation(picker));
        QDir::setCurrent(before);
        QCOMPARE(asked, 1);
        QCOMPARE(m_state->relocateNote(), "正在重新定位到 " + chosen + "…");
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(m_state->relocateNote(), QStringLiteral("不对"));
        QVERIFY(TempHome::crumbs().contains("applyRelocation 被拒：不对"));
        // An answer longer than is kept is no answer: only its start was read.
        m_tool->answer("workspace-relocate",
            "{\"ok\":true,\"path\":\"" + chosen.toUtf8() + "\"}" + QByteArray(CLI::kMaxOutputBytes + 10, ' '));
        QDir::setCurrent(m_home->path());
        QCoro::waitFor(m_state->pickNewLocation(picker));
        QDir::setCurrent(before);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
        QCOMPARE(m_state->relocateNote(), CLI::outputCutText({ "workspace" }));
        QVERIFY(pathOf(*m_catalog, "ws-shop") != chosen);

        // The picker's folder, re-bound.
        m_tool->drop("workspace-relocate.out");
        m_tool->drop("workspace-relocate.code");
        m_state->setLaunchArguments({ "tolvarine-desktop" });
        answer = chosen;
        QCoro::waitFor(m_state->pickNewLocation(picker));
        QCOMPARE(asked, 2);
        QVERIFY(TempHome::crumbs().contains("applyRelocation → " + chosen));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 20000);
        QCOMPARE(pathOf(*m_catalog, "ws-shop"), chosen);
    }

    // A search that ends after the user moved on to another workspace shows
    // nothing there, and what is confirmed there is that workspace's own match.
    void switchWhileSearching()
    {
        pairMissing(*m_home, "ws-blog", "blog");
        const QString shop = m_home->filePath("archive/shop");
        const QString blog = m_home->filePath("archive/blog");
        QVERIFY(QDir().mkpath(shop) && QDir().mkpath(blog));
        start("ws-shop");
        QCOMPARE(m_state->relocatePending(), shop);

        m_tool->put("workspace-relocate.delay_ms", "1500");
        QSignalSpy searched(m_state.get(), &RelocationState::discoveryFinished);
        m_state->autoRelocate();
        m_catalog->setSelectedID("ws-blog");
        // Nothing of the other workspace is on show; its own first search starts at once.
        QCOMPARE(m_state->workspace()->id(), QStringLiteral("ws-blog"));
        QCOMPARE(m_state->relocatePending(), QString());
        QCOMPARE(m_state->relocateNote(), QString());
        QVERIFY(m_state->relocateBusy());
        QVERIFY(m_state->autoTried().contains("ws-blog"));
        QTRY_COMPARE_WITH_TIMEOUT(searched.size(), 2, 20000);
        QCOMPARE(m_state->relocatePending(), blog);

        m_tool->drop("workspace-relocate.delay_ms");
        QSignalSpy finished(m_state.get(), &RelocationState::relocationFinished);
        m_state->confirmRelocation(m_state->relocatePending());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(pathOf(*m_catalog, "ws-blog"), blog);
        QCOMPARE(pathOf(*m_catalog, "ws-shop"), m_home->filePath("code/shop"));

        // Back on the first workspace: its late result was dropped, its automatic search stays used.
        m_catalog->setSelectedID("ws-shop");
        QVERIFY(m_state->shown());
        QCOMPARE(m_state->relocatePending(), QString());
        QVERIFY(!m_state->relocateBusy());
        QCOMPARE(m_tool->argvs().filter("--dry-run").size(), 3);
    }

private:
    // A catalogue over the home, loaded, and the state over it (its
    // automatic search starts at once); waits for that search.
    void start(const QString& selected = QStringLiteral("ws-shop"))
    {
        QSettings().setValue(QLatin1String(WorkspaceCatalog::kSelectionKey), selected);
        m_catalog = std::make_unique<WorkspaceCatalog>();
        QCoro::waitFor(m_catalog->reload(false));
        m_state = std::make_unique<RelocationState>(m_catalog.get());
        QSignalSpy searched(m_state.get(), &RelocationState::discoveryFinished);
        QVERIFY(m_state->shown());
        QVERIFY(m_state->relocateBusy());
        QTRY_COMPARE_WITH_TIMEOUT(searched.size(), 1, 20000);
        QVERIFY(!m_state->relocateBusy());
    }

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<SimTool> m_tool;
    std::unique_ptr<WorkspaceCatalog> m_catalog;
    std::unique_ptr<RelocationState> m_state;
};

QTEST_GUILESS_MAIN(TestRelocationState)
#include "tst_RelocationState.moc"
