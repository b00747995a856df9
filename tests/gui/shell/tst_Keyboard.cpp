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
#include "gui/tasks/DeskArtifactSheet.h"
#include "gui/workspaces/PairingSection.h"

#include "SimGateway.h"
#include "WindowTestSetUp.h"

#include <QComboBox>
#include <QLayout>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSignalSpy>
#include <QtTest>

// The window and its sheets by keyboard: Tab goes through them in the order
// they stand, every stop shows when it has the keyboard, and Enter in a sheet
// presses its primary button.
namespace {

// Tab from none, once round: the stops, and those that look the same with and without the keyboard.
std::pair<QList<QPointer<QWidget>>, QStringList> walk(QWidget* window)
{
    window->activateWindow();
    QTest::qWaitFor([window] { return window->isActiveWindow(); });
    window->setFocus();
    QList<QPointer<QWidget>> stops;
    QStringList unseen;
    QImage focused;
    for (int i = 0; i < 500; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        // (A sheet with one stop keeps it.)
        if (!stops.isEmpty() && stops.last() && now != stops.last() && stops.last()->grab().toImage() == focused)
            unseen << stops.last()->objectName() + stops.last()->accessibleName();
        if (!now || (!stops.isEmpty() && now == stops.first()))
            break;
        stops << now;
        focused = now->grab().toImage();
    }
    return { stops, unseen };
}

QStringList names(const QList<QPointer<QWidget>>& stops)
{
    QStringList out;
    for (QWidget* s : stops)
        out << QString::fromLatin1(s->metaObject()->className()) + ':'
                + (s->objectName().isEmpty() ? s->accessibleName() : s->objectName());
    return out;
}

RuntimeSetupInfo codex()
{
    RuntimeSetupInfo setup;
    setup.kind = "codex";
    setup.providerSlots = { ProviderSlot { "openai", "OpenAI", { "OPENAI_API_KEY" }, {}, {} } };
    return setup;
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT
private slots:
    void init() { m_world = std::make_unique<SimWorld>(); }
    void cleanup() { m_world.reset(); }
    void tabFollowsThePageAndShows();
    void enterPressesTheDefault_data();
    void enterPressesTheDefault();

private:
    WindowTestSetUp<> m_setUp;
    std::unique_ptr<SimWorld> m_world;
};

// The window opens on no control; Tab goes from the header through the
// sections in the order they stand, never to the page itself, the same after
// a reload and after a switch away and back, which rebuild rows; a sheet whose
// rows are made after its form has them first, as they stand.
void TestKeyboard::tabFollowsThePageAndShows()
{
    m_world->pair({ "ws-demo", "ws-blog" });
    MainWindow w({ std::chrono::hours(1), std::chrono::hours(1) });
    QSignalSpy loaded(w.controller(), &WindowController::initialLoadFinished);
    QSignalSpy runtimes(w.controller()->inventory(), &RuntimeInventoryStore::refreshed);
    w.resize(840, 720);
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty() && !runtimes.isEmpty(), 15000);
    QTRY_COMPARE(QApplication::focusWidget(), &w);
    QTest::keyClick(&w, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.header()->switcher());
    // The reload after the first load confirms the demo's pending tier, which changes its row.
    QCoro::waitFor(w.controller()->reloadSelected());

    const auto [stops, unseen] = walk(&w);
    QCOMPARE(unseen, QStringList());
    QList<int> places; // 0 the header, else 1 + the page's slot
    for (QWidget* stop : stops) {
        int place = w.header()->isAncestorOf(stop) ? 0 : -1;
        for (int slot = PairedPage::RelocationBanner; slot <= PairedPage::About; ++slot)
            if (QWidget* s = w.pairedPage()->section(slot); s && s->isAncestorOf(stop))
                place = 1 + slot;
        QVERIFY2(place >= 0, qPrintable(names({ stop }).first()));
        if (places.isEmpty() || places.last() != place)
            places << place;
    }
    // The collaboration view and the about block have no controls.
    QCOMPARE(places,
        QList<int>({ 0, 1 + PairedPage::SummaryBar, 1 + PairedPage::Team, 1 + PairedPage::Runtime,
            1 + PairedPage::Permissions, 1 + PairedPage::PhonePairing }));
    const QStringList first = names(stops);
    QCoro::waitFor(w.controller()->reloadSelected());
    QCOMPARE(names(walk(&w).first), first);
    QSignalSpy switched(w.controller(), &WindowController::selectionReloadFinished);
    w.controller()->catalog()->setSelectedID("ws-blog");
    QTRY_COMPARE_WITH_TIMEOUT(switched.size(), 1, 15000);
    w.controller()->catalog()->setSelectedID("ws-demo");
    QTRY_VERIFY_WITH_TIMEOUT(switched.size() == 2 && !w.controller()->status()->team().isEmpty(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(names(walk(&w).first), first, 15000);

    w.openApprovals();
    QVERIFY(QTest::qWaitForWindowExposed(w.approvalsSheet()));
    QCOMPARE(walk(w.approvalsSheet()).second, QStringList());
    w.approvalsSheet()->reject();
    // The other sheets the page opens show each stop too.
    DeskFileChange file;
    file.path = QStringLiteral("src/checkout/CouponStack.php");
    const QList<std::pair<QString, std::function<void()>>> sheets { { "failed tasks", [&] { w.openFailedTasks(); } },
        { "recovery", [&] { w.recover(); } },
        { "pairing", [&] { w.findChild<PairingSection*>()->setQrExpanded(true); } },
        { "add agent", [&] { QTest::mouseClick(w.findChild<QAbstractButton*>("advanced.add"), Qt::LeftButton); } },
        { "artifact", [&] {
             auto* artifact = new DeskArtifactSheet(file, std::nullopt, nullptr, QStringLiteral("重写结算"), &w);
             artifact->setAttribute(Qt::WA_DeleteOnClose);
             artifact->open();
         } } };
    for (const auto& [which, open] : sheets) {
        open();
        QDialog* sheet = nullptr;
        QTRY_VERIFY((sheet = qobject_cast<QDialog*>(QApplication::activeModalWidget())) != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QTest::qWait(200);
        const auto [sheetStops, sheetUnseen] = walk(sheet);
        QVERIFY2(!sheetStops.isEmpty(), qPrintable(which));
        QVERIFY2(sheetUnseen.isEmpty(), qPrintable(which + ": " + sheetUnseen.join(", ")));
        sheet->reject();
        QTRY_VERIFY(QApplication::activeModalWidget() != sheet);
    }

    ProviderProfile profile { QUuid::createUuid(), "openai", "公司账号", {}, {}, {}, {}, {}, {} };
    ModelProviderSheet sheet(
        "codex", "Codex", codex(), { profile }, profile.id, [](const std::optional<QString>&, bool) {});
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    const auto [sheetStops, sheetUnseen] = walk(&sheet);
    QCOMPARE(sheetUnseen, QStringList());
    QStringList order;
    for (QWidget* stop : sheetStops)
        order << stop->objectName();
    const QString id = "providers." + UuidText::plain(profile.id);
    QCOMPARE(order,
        QStringList({ "providers.unbind", id + ".verify", id + ".delete", "providers.new.provider",
            "providers.new.name", "providers.new.baseurl", "providers.new.model", "providers.new.key",
            "providers.new.save", "providers.close" }));
}

void TestKeyboard::enterPressesTheDefault_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("focus"); // where Enter is pressed
    QTest::addColumn<QString>("pressed"); // the button it presses; none when empty
    QTest::newRow("add agent, last field") << "add"
                                           << "advanced.add.command"
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

// From a field Enter presses the sheet's primary button, on a button that
// button; a multi-line field keeps Enter for a new line.
void TestKeyboard::enterPressesTheDefault()
{
    QFETCH(QString, sheet);
    QFETCH(QString, focus);
    QFETCH(QString, pressed);
    std::unique_ptr<Sheet> open;
    if (sheet == "add") {
        open = std::make_unique<AddConnectionSheet>(nullptr);
    } else if (sheet == "providers") {
        open = std::make_unique<ModelProviderSheet>("codex", "Codex", codex(), QList<ProviderProfile> {}, std::nullopt,
            [](const std::optional<QString>&, bool) {});
    } else {
        open = std::make_unique<Sheet>("plain", "plain", 300);
        open->layout()->addWidget(new QPlainTextEdit(open.get()));
        open->findChild<QPlainTextEdit*>()->setObjectName("plain.text");
        auto* ok = new PrimaryButton("好", false, false, QStringLiteral("plain.ok"), {}, open.get());
        open->layout()->addWidget(ok);
        open->setDefaultButton(ok);
    }
    open->show();
    open->activateWindow();
    QTRY_VERIFY(open->isActiveWindow());
    QStringList clicked;
    for (QAbstractButton* b : open->findChildren<QAbstractButton*>())
        connect(b, &QAbstractButton::clicked, this, [&clicked, b] { clicked << b->objectName(); });
    auto* target = open->findChild<QWidget*>(focus);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(clicked, pressed.isEmpty() ? QStringList() : QStringList { pressed });
    if (auto* text = qobject_cast<QPlainTextEdit*>(target))
        QCOMPARE(text->toPlainText(), QStringLiteral("\n"));
}

QTEST_MAIN(TestKeyboard)
#include "tst_Keyboard.moc"
