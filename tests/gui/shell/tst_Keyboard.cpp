#include "core/gateway/Status.h"
#include "core/platform/UuidText.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/agents/AddConnectionSheet.h"
#include "gui/design/PrimaryButton.h"
#include "gui/providers/ModelProviderSheet.h"
#include "gui/shell/MainWindow.h"
#include "gui/shell/PairedPage.h"
#include "gui/shell/WindowHeader.h"
#include "gui/tasks/ApprovalsSheet.h"

#include "SimGateway.h"
#include "SimTool.h"
#include "TempHome.h"
#include "WindowTestSetUp.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSignalSpy>
#include <QtTest>

// The window and its sheets by keyboard: Tab goes through them in the order
// they stand, every control shows when it has the keyboard, and Enter in a
// sheet presses its primary button.
namespace {

const MainWindow::Intervals kQuiet { std::chrono::hours(1), std::chrono::hours(1) };

void showLoaded(MainWindow& w)
{
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    QSignalSpy runtimes(w.controller()->inventory(), &RuntimeInventoryStore::refreshed);
    w.resize(840, 720);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!runtimes.isEmpty(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.controller()->inventory()->loading(), 15000);
}

bool activate(QWidget* window)
{
    window->activateWindow();
    return QTest::qWaitFor([window] { return window->isActiveWindow(); });
}

// The stops Tab visits in `window`, from none, once round.
QList<QPointer<QWidget>> walk(QWidget* window)
{
    QList<QPointer<QWidget>> stops;
    if (!activate(window))
        return stops;
    if (QWidget* f = window->focusWidget())
        f->clearFocus();
    for (int i = 0; i < 500; ++i) {
        QWidget* at = QApplication::focusWidget();
        QTest::keyClick(at ? at : window, Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        if (!now || (!stops.isEmpty() && now == stops.first()))
            break;
        stops.append(now);
    }
    return stops;
}

QString name(const QWidget* w)
{
    const QString n = w->objectName().isEmpty() ? w->accessibleName() : w->objectName();
    return QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(':') + n;
}

QStringList names(const QList<QPointer<QWidget>>& stops)
{
    QStringList out;
    for (const QPointer<QWidget>& s : stops)
        out << (s ? name(s) : QStringLiteral("(gone)"));
    return out;
}

RuntimeSetupInfo codexSetup()
{
    RuntimeSetupInfo setup;
    setup.kind = QStringLiteral("codex");
    setup.providerSlots = { ProviderSlot { "openai", "OpenAI", { "OPENAI_API_KEY" }, {}, {} } };
    return setup;
}

ProviderProfile profile()
{
    ProviderProfile p;
    p.id = QUuid::fromString(QStringLiteral("{6f1c2a9e-0d4b-4c1e-9a57-3b2d8e4f7a10}"));
    p.name = QStringLiteral("公司账号");
    p.provider = QStringLiteral("openai");
    return p;
}

// Where on the main window a stop is: 0 for the header, else 1 + the page's slot.
int placeOf(MainWindow& w, QWidget* stop)
{
    if (w.header()->isAncestorOf(stop))
        return 0;
    for (int slot = PairedPage::RelocationBanner; slot <= PairedPage::About; ++slot)
        if (QWidget* s = w.pairedPage()->section(slot); s && s->isAncestorOf(stop))
            return 1 + slot;
    return -1;
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void tabFollowsThePage();
    void focusShows();
    void enterPressesTheDefault_data();
    void enterPressesTheDefault();

private:
    std::unique_ptr<SimWorld> m_world;
    std::optional<WindowTestSetUp<>> m_setUp;
};

void TestKeyboard::init()
{
    m_setUp.emplace();
    m_world = std::make_unique<SimWorld>();
    QVERIFY2(m_world->sim->ok(), m_world->sim->output().constData());
}

void TestKeyboard::cleanup()
{
    m_world.reset();
    m_setUp.reset();
}

// Tab goes from the header through the sections in the order they stand on
// the page, never to the page itself, and the same after a reload and after a
// switch away and back, which rebuild rows; in a sheet it goes the same way,
// its list's rows (made after its form) before the form.
void TestKeyboard::tabFollowsThePage()
{
    m_world->pair({ QStringLiteral("ws-demo"), QStringLiteral("ws-blog") });
    MainWindow w(kQuiet);
    showLoaded(w);
    // Opened, the window has the keyboard on no control; the first Tab goes to the header.
    QVERIFY(activate(&w));
    QCOMPARE(QApplication::focusWidget(), &w);
    QTest::keyClick(&w, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.header()->switcher());
    w.controller()->catalog()->setSelectedID(QStringLiteral("ws-demo"));
    QTRY_VERIFY_WITH_TIMEOUT(!w.controller()->status()->team().isEmpty(), 15000);
    // A reload first: the one after the first load confirms the demo's pending tier, which changes its row.
    QCoro::waitFor(w.controller()->reloadSelected());

    const QList<QPointer<QWidget>> first = walk(&w);
    const QStringList firstNames = names(first);
    QVERIFY(first.size() > 10);
    QList<int> places;
    for (const QPointer<QWidget>& stop : first) {
        QVERIFY2(stop != w.scrollArea(), "the page is a stop");
        const int place = placeOf(w, stop);
        QVERIFY2(place >= 0, qPrintable(name(stop)));
        if (places.isEmpty() || places.last() != place)
            places << place;
    }
    // Each part once, in the page's order (the collaboration view and the about block have no controls).
    const QList<int> expected { 0, 1 + PairedPage::SummaryBar, 1 + PairedPage::Team, 1 + PairedPage::Runtime,
        1 + PairedPage::Permissions, 1 + PairedPage::PhonePairing };
    QCOMPARE(places, expected);

    // A reload, and a switch away and back.
    QCoro::waitFor(w.controller()->reloadSelected());
    QCOMPARE(names(walk(&w)), firstNames);
    QSignalSpy switched(w.controller(), &WindowController::selectionReloadFinished);
    w.controller()->catalog()->setSelectedID(QStringLiteral("ws-blog"));
    QTRY_VERIFY_WITH_TIMEOUT(switched.size() == 1, 15000);
    w.controller()->catalog()->setSelectedID(QStringLiteral("ws-demo"));
    QTRY_VERIFY_WITH_TIMEOUT(switched.size() == 2, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.controller()->status()->team().isEmpty(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(names(walk(&w)), firstNames, 15000);

    // A sheet whose rows come after its form is made.
    ModelProviderSheet sheet(
        "codex", "Codex", codexSetup(), { profile() }, profile().id, [](const std::optional<QString>&) {});
    sheet.open();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QStringList sheetStops = names(walk(&sheet));
    for (QString& s : sheetStops)
        s = s.section(QLatin1Char(':'), 1);
    const QString id = UuidText::plain(profile().id);
    QCOMPARE(sheetStops,
        QStringList({ "providers.unbind", "providers." + id + ".verify", "providers." + id + ".delete",
            "providers.new.provider", "providers.new.name", "providers.new.baseurl", "providers.new.model",
            "providers.new.key", "providers.new.save", "providers.close" }));
}

// Every stop of the window and of its sheets looks different with the keyboard on it.
void TestKeyboard::focusShows()
{
    m_world->pair();
    MainWindow w(kQuiet);
    showLoaded(w);
    QTRY_VERIFY_WITH_TIMEOUT(!w.controller()->status()->team().isEmpty(), 15000);
    w.openApprovals();
    QVERIFY(QTest::qWaitForWindowExposed(w.approvalsSheet()));
    ModelProviderSheet providers(
        "codex", "Codex", codexSetup(), { profile() }, std::nullopt, [](const std::optional<QString>&) {});
    for (QWidget* window :
        { static_cast<QWidget*>(w.approvalsSheet()), static_cast<QWidget*>(&providers), static_cast<QWidget*>(&w) }) {
        if (window == &providers) {
            w.approvalsSheet()->reject();
            providers.show();
            QVERIFY(QTest::qWaitForWindowExposed(&providers));
        } else if (window == &w) {
            providers.reject();
        }
        const QList<QPointer<QWidget>> stops = walk(window);
        QVERIFY(stops.size() > 2);
        for (const QPointer<QWidget>& stop : stops) {
            QVERIFY(stop);
            stop->setFocus(Qt::TabFocusReason);
            QVERIFY(stop->hasFocus());
            const QImage focused = stop->grab().toImage();
            window->setFocus(Qt::OtherFocusReason);
            QVERIFY(!stop->hasFocus());
            QVERIFY2(stop->grab().toImage() != focused, qPrintable(name(stop)));
        }
    }
}

void TestKeyboard::enterPressesTheDefault_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("focus"); // where Enter is pressed
    QTest::addColumn<QString>("pressed"); // the button it presses; none when empty
    QTest::newRow("add agent, last field") << "add"
                                           << "advanced.add.command"
                                           << "advanced.add.save";
    QTest::newRow("add agent, first field") << "add"
                                            << "advanced.add.name"
                                            << "advanced.add.save";
    QTest::newRow("add agent, on cancel") << "add"
                                          << "advanced.add.cancel"
                                          << "advanced.add.cancel";
    QTest::newRow("providers, key") << "providers"
                                    << "providers.new.key"
                                    << "providers.new.save";
    QTest::newRow("providers, service") << "providers"
                                        << "providers.new.provider"
                                        << "providers.new.save";
    QTest::newRow("multi-line field") << "plain"
                                      << "plain.text"
                                      << "";
}

// Enter presses the sheet's primary button from its fields, or the button the
// keyboard is on; a multi-line field keeps Enter for a new line.
void TestKeyboard::enterPressesTheDefault()
{
    QFETCH(QString, sheet);
    QFETCH(QString, focus);
    QFETCH(QString, pressed);
    std::unique_ptr<Sheet> open;
    if (sheet == QLatin1String("add")) {
        open = std::make_unique<AddConnectionSheet>(nullptr);
    } else if (sheet == QLatin1String("providers")) {
        open = std::make_unique<ModelProviderSheet>("codex", "Codex", codexSetup(), QList<ProviderProfile> {},
            std::nullopt, [](const std::optional<QString>&) {});
    } else {
        open = std::make_unique<Sheet>(QStringLiteral("plain"), QStringLiteral("plain"), 300);
        auto* text = new QPlainTextEdit(open.get());
        text->setObjectName(QStringLiteral("plain.text"));
        auto* ok = new PrimaryButton(QStringLiteral("好"), false, false, QStringLiteral("plain.ok"), {}, open.get());
        open->layout()->addWidget(text);
        open->layout()->addWidget(ok);
        open->setDefaultButton(ok);
    }
    open->show();
    QVERIFY(QTest::qWaitForWindowExposed(open.get()));
    QVERIFY(activate(open.get()));
    QList<std::pair<QString, std::shared_ptr<QSignalSpy>>> spies;
    for (QAbstractButton* b : open->findChildren<QAbstractButton*>())
        if (!b->objectName().isEmpty())
            spies.append({ b->objectName(), std::make_shared<QSignalSpy>(b, &QAbstractButton::clicked) });
    auto* target = open->findChild<QWidget*>(focus);
    QVERIFY(target);
    target->setFocus(Qt::TabFocusReason);
    QTest::keyClick(target, Qt::Key_Return);
    for (const auto& [button, spy] : spies)
        QVERIFY2(spy->size() == (button == pressed ? 1 : 0), qPrintable(button));
    if (auto* text = qobject_cast<QPlainTextEdit*>(target))
        QCOMPARE(text->toPlainText(), QStringLiteral("\n"));
}

QTEST_MAIN(TestKeyboard)
#include "tst_Keyboard.moc"
