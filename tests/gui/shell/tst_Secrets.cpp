#include "core/platform/DeskCrumbs.h"
#include "core/platform/ReduceMotion.h"
#include "core/platform/SecretStore.h"
#include "core/platform/TolvarinePaths.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/runtimes/RecoveryRunner.h"
#include "core/runtimes/RuntimeController.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/shell/WindowController.h"
#include "gui/design/Disclosure.h"
#include "gui/design/SecondaryButton.h"
#include "gui/platform/Prompts.h"
#include "gui/providers/ModelProviderSheet.h"
#include "gui/runtimes/RuntimeCard.h"
#include "gui/runtimes/RuntimeSection.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/PairedPage.h"
#include "gui/workspaces/PairingSection.h"
#include "gui/workspaces/PairingSheet.h"

#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"

#include <QClipboard>
#include <QDirIterator>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

using namespace std::chrono_literals;

// A known workspace token and a known provider key go through every view
// that handles them; afterwards neither is in any file the application wrote,
// in what it showed, copied or logged.
namespace {

const QString kDemo = QStringLiteral("ws-demo");
const QString kKey = QStringLiteral("sk-audit-5d1e9c07b3a24f68e1");

void click(QWidget* button)
{
    QVERIFY(button);
    QTRY_VERIFY(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
}

// Clicks the visible widget of that name once it shows (a replaced one may linger hidden until it is deleted).
void clickWhenShown(QWidget& root, const QString& name)
{
    const auto shown = [&]() -> QWidget* {
        const QList<QWidget*> all = root.findChildren<QWidget*>(name);
        const auto it = std::find_if(all.begin(), all.end(), [](QWidget* w) { return w->isVisible(); });
        return it == all.end() ? nullptr : *it;
    };
    QTRY_VERIFY(shown());
    QTest::mouseClick(shown(), Qt::LeftButton);
}

// The permission bits of a file or folder.
int mode(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

class TestSecrets : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void nothingLeaks();

private:
    std::unique_ptr<SimWorld> m_world;
    ScriptedPrompts* m_prompts = nullptr;
};

void TestSecrets::init()
{
    ReduceMotion::setOverride(true);
    auto prompts = std::make_unique<ScriptedPrompts>();
    m_prompts = prompts.get();
    Prompts::setShared(std::move(prompts));
    SecretStore::setShared(std::make_unique<MemorySecretStore>());
}

void TestSecrets::cleanup()
{
    SecretStore::setShared(nullptr);
    Prompts::setShared(nullptr);
    m_world.reset();
    ReduceMotion::setOverride(std::nullopt);
}

void TestSecrets::nothingLeaks()
{
    // The stand-in gateway with a workspace token nothing else could contain.
    const QString token = QStringLiteral("tok-audit-9f2c41e7b08d5a36c1");
    QTemporaryDir scenarios;
    QFile demo(Sim::scenario(QStringLiteral("demo.json")));
    QFile scenario(scenarios.filePath(QStringLiteral("demo.json")));
    QVERIFY(demo.open(QIODevice::ReadOnly) && scenario.open(QIODevice::WriteOnly));
    scenario.write(demo.readAll().replace("\"demo-token\"", "\"" + token.toUtf8() + "\""));
    scenario.close();
    m_world = std::make_unique<SimWorld>(scenario.fileName());
    QVERIFY2(m_world->sim->ok(), m_world->sim->output().constData());
    QCOMPARE(m_world->sim->config().token, token);
    m_world->tool.put(QStringLiteral("run.interval_ms"), "100");
    // The pairing files are the companion tool's (in its protected folder);
    // the application's own folder does not exist yet.
    m_world->pair({ kDemo }, true, QStringLiteral(".tolvarine-protected"));
    QVERIFY(!QFileInfo::exists(m_world->home.filePath(QStringLiteral(".tolvarine"))));
    // A desktop session's usual mask, which leaves new folders readable by all.
    const mode_t oldMask = ::umask(022);
    const auto restoreMask = qScopeGuard([oldMask] { ::umask(oldMask); });
    m_world->tool.put(QStringLiteral("log_env"), "OPENAI_API_KEY");
    // The worker says both back.
    m_world->tool.answer(
        QStringLiteral("run"), QStringLiteral("using key %1 with token %2\n").arg(kKey, token).toUtf8(), 0);

    QStringList shown; // notices and clipboard texts, as they came
    auto* w = new MainWindow(MainWindow::Intervals { 300ms, 300ms });
    w->resize(840, 1400);
    connect(w->controller(), &WindowController::noticeChanged, this,
        [&] { shown.append(w->controller()->notice().value_or(QString())); });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
        [&] { shown.append(QGuiApplication::clipboard()->text()); });
    QSignalSpy loaded(w->controller(), &WindowController::initialLoadFinished);
    w->show();
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 10000);
    auto* section = qobject_cast<RuntimeSection*>(w->pairedPage()->section(PairedPage::Runtime));
    QTRY_VERIFY(section->card(QStringLiteral("codex")));
    RuntimeCard* codex = section->card(QStringLiteral("codex"));

    // The provider sheet: a new account with the key, bound and checked.
    clickWhenShown(*w, QStringLiteral("runtime.codex.model"));
    ModelProviderSheet* sheet = codex->providerSheet();
    QVERIFY(sheet);
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.name"))->setText(QStringLiteral("审计账号"));
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.baseurl"))->setText(m_world->sim->origin() + "/v1");
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.model"))->setText(QStringLiteral("gpt-5-codex"));
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.key"))->setText(kKey);
    click(sheet->findChild<QWidget*>(QStringLiteral("providers.new.save")));
    QTRY_COMPARE(sheet->model()->profiles().size(), 1);
    const QString idText = ModelProviderSheet::idText(sheet->model()->profiles().first().id);
    click(sheet->findChild<QWidget*>(QStringLiteral("providers.") + idText + QStringLiteral(".bind")));
    click(sheet->findChild<QWidget*>(QStringLiteral("providers.") + idText + QStringLiteral(".verify")));
    QTRY_VERIFY(sheet->model()->profiles().first().lastVerifyOK.has_value());
    click(sheet->findChild<QWidget*>(QStringLiteral("providers.close")));
    QTRY_VERIFY(!codex->providerSheet());
    QTRY_VERIFY(codex->state().boundProfile && codex->state().boundProfileHasKey == true);

    // The store that names the accounts is the user's alone, in a folder that
    // is too (created by the application: the tool has written nothing there yet).
    const QFileInfo profiles(ProviderProfileStore::filePath());
    QVERIFY(profiles.exists());
    QCOMPARE(mode(profiles.filePath()), 0600);
    QCOMPARE(mode(profiles.absolutePath()), 0700);

    // The runtime starts with the key in its environment.
    clickWhenShown(*w, QStringLiteral("runtime.codex.start"));
    QTRY_VERIFY(section->log()->toPlainText().contains(QStringLiteral("using key ")));
    const QList<QJsonObject> calls = m_world->tool.calls();
    QVERIFY(std::any_of(calls.begin(), calls.end(), [](const QJsonObject& call) {
        const QJsonObject env = call.value(QStringLiteral("env")).toObject();
        return std::any_of(env.begin(), env.end(), [](const QJsonValue& v) { return v.toString() == kKey; });
    }));

    // Diagnostics copied, the recovery run, the phone pairing link copied, a folder paired.
    codex->diagnostics()->setExpanded(true);
    clickWhenShown(*w, QStringLiteral("runtime.codex.copyDiag"));
    QSignalSpy recovered(w->controller(), &WindowController::recoveryFinished);
    w->recover();
    QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 1, 20000);
    auto* phone = w->findChild<PairingSection*>();
    QSignalSpy copied(phone, &PairingSection::copyFinished);
    click(phone->entryCopyButton());
    QTRY_COMPARE(copied.size(), 1);
    phone->setQrExpanded(true);
    QTest::qWait(300);
    phone->setQrExpanded(false);
    m_prompts->folderAnswers = { m_world->home.filePath(QStringLiteral("projects/new")) };
    QVERIFY(QDir().mkpath(*m_prompts->folderAnswers.first()));
    qputenv("BRENLOW_SIM_PAIR_WS", "ws-new");
    QSignalSpy paired(w->controller(), &WindowController::pairingFinished);
    w->pickFolderAndPair();
    QTRY_COMPARE_WITH_TIMEOUT(paired.size(), 1, 10000);
    // A few passes of both loops write their snapshots.
    QSignalSpy polled(w->controller(), &WindowController::pollPassFinished);
    QTRY_VERIFY_WITH_TIMEOUT(polled.size() >= 2, 10000);

    shown.append(section->log()->toPlainText());
    shown += w->controller()->runtimes().lines(kDemo);
    w->controller()->runtimes().stopAll();
    w->close();
    delete w;
    QTest::qWait(500);
    shown.append(TempHome::crumbs());
    QVERIFY(!TempHome::crumbs().isEmpty());
    for (const QString& text : std::as_const(shown)) {
        QVERIFY2(!text.contains(token), qPrintable(text.left(300)));
        QVERIFY2(!text.contains(kKey), qPrintable(text.left(300)));
    }

    // Every file under the home but the stand-in tool's own: its steering
    // folder (with its call log), its pairing files and the tool itself.
    const QStringList toolWritten { QStringLiteral("/brenlow-sim/"), QStringLiteral("/.tolvarine-protected/"),
        QStringLiteral("/.tolvarine/workspaces/"), QStringLiteral("/.tolvarine/config.json"),
        QStringLiteral("/.local/bin/") };
    int searched = 0;
    QDirIterator it(m_world->home.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(m_world->home.path().size());
        if (std::any_of(toolWritten.begin(), toolWritten.end(),
                [&](const QString& prefix) { return relative.startsWith(prefix); }))
            continue;
        QFile f(path);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(relative));
        const QByteArray bytes = f.readAll();
        QVERIFY2(!bytes.contains(token.toUtf8()), qPrintable(relative));
        QVERIFY2(!bytes.contains(kKey.toUtf8()), qPrintable(relative));
        ++searched;
    }
    QVERIFY(searched >= 5);
}

QTEST_MAIN(TestSecrets)
#include "tst_Secrets.moc"
