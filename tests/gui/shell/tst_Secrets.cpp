#include "core/platform/ReduceMotion.h"
#include "core/platform/SecretStore.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/runtimes/RuntimeController.h"
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

#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"

#include <QClipboard>
#include <QDirIterator>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h> // umask

using namespace std::chrono_literals;

// A known workspace token and a known provider key go through every view
// that handles them; afterwards neither is in any file the application wrote,
// in what it showed, copied or logged.
namespace {

const QString kDemo = QStringLiteral("ws-demo");
const QString kKey = QStringLiteral("sk-audit-5d1e9c07b3a24f68e1");

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

} // namespace

class TestSecrets : public QObject {
    Q_OBJECT
private slots:
    void nothingLeaks();

private:
    std::unique_ptr<SimWorld> m_world;
};

void TestSecrets::nothingLeaks()
{
    ReduceMotion::setOverride(true);
    auto owned = std::make_unique<ScriptedPrompts>();
    ScriptedPrompts* prompts = owned.get();
    Prompts::setShared(std::move(owned));
    SecretStore::setShared(std::make_unique<MemorySecretStore>());
    const auto reset = qScopeGuard([this] {
        SecretStore::setShared(nullptr);
        Prompts::setShared(nullptr);
        m_world.reset();
        ReduceMotion::setOverride(std::nullopt);
    });
    // The stand-in gateway with a workspace token nothing else could contain.
    const QString token = QStringLiteral("tok-audit-9f2c41e7b08d5a36c1");
    QTemporaryDir scenarios;
    QFile demo(Sim::scenario(QStringLiteral("demo.json"))), scenario(scenarios.filePath(QStringLiteral("demo.json")));
    QVERIFY(demo.open(QIODevice::ReadOnly) && scenario.open(QIODevice::WriteOnly));
    scenario.write(demo.readAll().replace("\"demo-token\"", "\"" + token.toUtf8() + "\""));
    scenario.close();
    m_world = std::make_unique<SimWorld>(scenario.fileName());
    QVERIFY2(m_world->sim->ok(), m_world->sim->output().constData());
    // The pairing files are the companion tool's (in its protected folder);
    // the application's own folder does not exist yet.
    m_world->pair({ kDemo }, true, QStringLiteral(".tolvarine-protected"));
    QVERIFY(!QFileInfo::exists(m_world->home.filePath(QStringLiteral(".tolvarine"))));
    // A desktop session's usual mask, which leaves new folders readable by all.
    const mode_t oldMask = ::umask(022);
    const auto restoreMask = qScopeGuard([oldMask] { ::umask(oldMask); });
    // The worker says both back.
    m_world->tool.put(QStringLiteral("run.interval_ms"), "100");
    m_world->tool.put(QStringLiteral("log_env"), "OPENAI_API_KEY");
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
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.name"))->setText(QStringLiteral("审计账号"));
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.baseurl"))->setText(m_world->sim->origin() + "/v1");
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.model"))->setText(QStringLiteral("gpt-5-codex"));
    sheet->findChild<QLineEdit*>(QStringLiteral("providers.new.key"))->setText(kKey);
    clickWhenShown(*sheet, QStringLiteral("providers.new.save"));
    QTRY_COMPARE(sheet->model()->profiles().size(), 1);
    const QString idText = ModelProviderSheet::idText(sheet->model()->profiles().first().id);
    clickWhenShown(*sheet, QStringLiteral("providers.") + idText + QStringLiteral(".bind"));
    clickWhenShown(*sheet, QStringLiteral("providers.") + idText + QStringLiteral(".verify"));
    QTRY_VERIFY(sheet->model()->profiles().first().lastVerifyOK.has_value());
    clickWhenShown(*sheet, QStringLiteral("providers.close"));
    QTRY_VERIFY(codex->state().boundProfile && codex->state().boundProfileHasKey == true);

    // The account store's folder is the user's alone (created by the application: the tool wrote nothing there yet).
    const QFileInfo folder(QFileInfo(ProviderProfileStore::filePath()).absolutePath());
    QVERIFY(folder.isDir() && !(folder.permissions() & QFileDevice::Permissions(0x0077)));

    // The runtime starts with the key in its environment.
    clickWhenShown(*w, QStringLiteral("runtime.codex.start"));
    QTRY_VERIFY(section->log()->toPlainText().contains(QStringLiteral("using key ")));
    const QList<QJsonObject> calls = m_world->tool.calls();
    QVERIFY(std::any_of(calls.begin(), calls.end(), [](const QJsonObject& call) {
        return call[QStringLiteral("env")][QStringLiteral("OPENAI_API_KEY")].toString() == kKey;
    }));

    // Diagnostics copied, the recovery run, the phone pairing link copied, a folder paired.
    codex->diagnostics()->setExpanded(true);
    clickWhenShown(*w, QStringLiteral("runtime.codex.copyDiag"));
    QSignalSpy recovered(w->controller(), &WindowController::recoveryFinished);
    w->recover();
    QTRY_COMPARE_WITH_TIMEOUT(recovered.size(), 1, 20000);
    auto* phone = w->findChild<PairingSection*>();
    QSignalSpy copied(phone, &PairingSection::copyFinished);
    QTest::mouseClick(phone->entryCopyButton(), Qt::LeftButton);
    QTRY_COMPARE(copied.size(), 1);
    phone->setQrExpanded(true);
    QTest::qWait(300);
    phone->setQrExpanded(false);
    prompts->folderAnswers = { m_world->home.filePath(QStringLiteral("projects/new")) };
    QVERIFY(QDir().mkpath(*prompts->folderAnswers.first()));
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
    const auto clean = [&](const QString& text) { return !text.contains(token) && !text.contains(kKey); };
    for (const QString& text : std::as_const(shown))
        QVERIFY2(clean(text), qPrintable(text.left(300)));

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
        QVERIFY2(f.open(QIODevice::ReadOnly) && clean(QString::fromLatin1(f.readAll())), qPrintable(relative));
        ++searched;
    }
    QVERIFY(searched >= 5);
}

QTEST_MAIN(TestSecrets)
#include "tst_Secrets.moc"
