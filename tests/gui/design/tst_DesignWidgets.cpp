#include "core/design/DS.h"
#include "core/design/IconTable.h"
#include "core/platform/ReduceMotion.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/Disclosure.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/EmptyState.h"
#include "gui/design/ErrorBanner.h"
#include "gui/design/Icon.h"
#include "gui/design/KeyedReconciler.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SkeletonCards.h"

#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

// A shown top-level container of a given width with one child in a column.
struct Host {
    QWidget window;
    QVBoxLayout* column;
    explicit Host(int width)
        : column(new QVBoxLayout(&window))
    {
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        window.resize(width, 400);
    }
    void add(QWidget* w, Qt::Alignment a = {}) { column->addWidget(w, 0, a); }
    void show()
    {
        column->addStretch(1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
};

} // namespace

class TestDesignWidgets : public QObject {
    Q_OBJECT
private slots:
    void init() { ReduceMotion::setOverride(false); }
    void cleanup() { ReduceMotion::setOverride(std::nullopt); }

    void primaryButtonBusy();
    void errorBannerFold_data();
    void errorBannerFold();
    void errorBannerKeepsFoldOpen();
    void emptyState();
    void reconcilerKeepsIdentity();
    void skeletonStillWithReduceMotion();
    void skeletonBandStops();
    void spinnerOnlyTurnsOnScreen();
    void iconTable();
    void elidedLabel();
};

void TestDesignWidgets::primaryButtonBusy()
{
    int calls = 0;
    PrimaryButton button("批准", false, false, std::nullopt, [&] { ++calls; });
    button.resize(button.sizeHint());
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(calls, 1);

    const int idleWidth = button.sizeHint().width();
    button.setBusy(true);
    QVERIFY(button.spinner()->isVisible() && !button.isEnabled());
    QVERIFY(button.sizeHint().width() != idleWidth); // the spinner and "处理中…" replace the title
    button.resize(button.sizeHint());
    QTest::mouseClick(&button, Qt::LeftButton);
    button.click();
    QCOMPARE(calls, 1);

    button.setBusy(false);
    QCOMPARE(button.titleLabel()->text(), "批准");
    QTest::mouseClick(&button, Qt::LeftButton);
    QCOMPARE(calls, 2);

    // A button the caller disabled stays disabled when busy ends.
    button.setEnabled(false);
    button.setBusy(true);
    button.setBusy(false);
    QVERIFY(!button.isEnabled());
    button.setEnabled(true);
    button.setBusy(true);
    button.setEnabled(true); // enabling from outside does not make a busy button pressable
    QVERIFY(!button.isEnabled());
    button.setBusy(false);
    QVERIFY(button.isEnabled());
}

void TestDesignWidgets::errorBannerFold_data()
{
    QTest::addColumn<std::optional<QString>>("evidence");
    QTest::addColumn<bool>("fold");
    QTest::newRow("absent") << std::optional<QString>() << false;
    QTest::newRow("one space") << std::optional<QString>(QString(" ")) << true;
    QTest::newRow("markup stays text") << std::optional<QString>(QString("<b>exit 1</b>")) << true;
}

void TestDesignWidgets::errorBannerFold()
{
    QFETCH(std::optional<QString>, evidence);
    QFETCH(bool, fold);
    Host host(600);
    auto* banner = new ErrorBanner("<i>读不到</i> 执行状态", evidence);
    host.add(banner);
    host.show();
    QCOMPARE(banner->textLabel()->accessibleName(), "<i>读不到</i> 执行状态");
    QCOMPARE(banner->textLabel()->textFormat(), Qt::PlainText);
    QCOMPARE(banner->findChild<Disclosure*>() != nullptr, fold);
    if (!fold)
        return;
    QVERIFY(!banner->evidenceLabel()->isVisible());
    QTest::mouseClick(banner->evidenceFold()->header(), Qt::LeftButton);
    QVERIFY(banner->showsEvidence() && banner->evidenceLabel()->isVisible());
    QCOMPARE(banner->evidenceLabel()->text(), *evidence);
    QCOMPARE(banner->evidenceLabel()->textFormat(), Qt::PlainText);
    QVERIFY(banner->evidenceLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
}

void TestDesignWidgets::errorBannerKeepsFoldOpen()
{
    ErrorBanner banner("失败", QString("exit 1"), QString("runtime.error"));
    banner.evidenceFold()->setExpanded(true);
    banner.setContent("失败", QString("exit 2"));
    QVERIFY(banner.showsEvidence());
    QCOMPARE(banner.evidenceLabel()->text(), "exit 2");
}

void TestDesignWidgets::emptyState()
{
    Host host(700);
    bool ran = false;
    auto* unreadable
        = new EmptyState(EmptyState::Kind::unreadable, "读不到", EmptyState::Action { "重试", [&] { ran = true; } });
    auto* empty = new EmptyState(EmptyState::Kind::emptyButHealthy, "还没有任务");
    host.add(unreadable);
    host.add(empty);
    host.show();
    QVERIFY(!empty->actionButton());
    QTest::mouseClick(unreadable->actionButton(), Qt::LeftButton);
    QVERIFY(ran);
}

void TestDesignWidgets::reconcilerKeepsIdentity()
{
    QWidget parent;
    auto* layout = new QVBoxLayout(&parent);
    layout->addStretch(1);
    KeyedReconciler<QString, QLabel> rec;
    int created = 0;
    auto apply = [&](const QStringList& ids) {
        const QList<QLabel*> widgets = rec.reconcile(
            ids, [](const QString& id) { return id; },
            [&](const QString&) {
                ++created;
                return new QLabel(&parent);
            },
            [](QLabel* l, const QString& id) { l->setText(id); });
        KeyedLayout::place(layout, widgets);
        return widgets;
    };
    const QList<QLabel*> first = apply({ "a", "b", "c" });
    first.at(0)->setProperty("state", "open"); // widget state that must survive
    QPointer<QLabel> b = first.at(1);

    const QList<QLabel*> second = apply({ "c", "a", "d", "a" });
    QCOMPARE(created, 4);
    QCOMPARE(second.size(), 3); // the repeated "a" is skipped
    QCOMPARE(second.at(0), first.at(2));
    QCOMPARE(second.at(1), first.at(0));
    QCOMPARE(second.at(1)->property("state").toString(), "open");
    QCOMPARE(rec.keys(), (QList<QString> { "c", "a", "d" }));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(layout->indexOf(second.at(i)), i);
    QVERIFY(b && b->isHidden());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!b);
    QCOMPARE(layout->itemAt(layout->count() - 1)->spacerItem() != nullptr, true); // the stretch stays last

    // A widget deleted from outside is made anew.
    delete second.at(2);
    const QList<QLabel*> third = apply({ "c", "a", "d" });
    QCOMPARE(created, 5);
    QCOMPARE(third.at(2)->text(), "d");
}

void TestDesignWidgets::skeletonStillWithReduceMotion()
{
    ReduceMotion::setOverride(true);
    Host host(700);
    auto* skeleton = new SkeletonCards(3);
    host.add(skeleton);
    host.show();
    QVERIFY(!skeleton->isShimmering());
    const QImage before = skeleton->grab().toImage();
    QTest::qWait(300);
    QVERIFY(!skeleton->isShimmering());
    QCOMPARE(skeleton->sweep(), -0.4);
    QCOMPARE(skeleton->grab().toImage(), before);
}

// A spinner scrolled out of view stops drawing frames (a window open all day
// costs nothing for it) and turns again once it is back in view.
void TestDesignWidgets::spinnerOnlyTurnsOnScreen()
{
    QScrollArea area;
    area.resize(200, 100);
    auto* page = new QWidget;
    page->setFixedSize(180, 1000);
    auto* spinner = new BusyIndicator(DS::cyan(), 14, page);
    spinner->move(10, 900);
    area.setWidget(page);
    area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&area));
    QTRY_VERIFY(!spinner->isSpinning());
    area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum());
    QTRY_VERIFY(spinner->isSpinning());
    area.verticalScrollBar()->setValue(0);
    QTRY_VERIFY(!spinner->isSpinning());
}

void TestDesignWidgets::skeletonBandStops()
{
    Host host(700);
    auto* skeleton = new SkeletonCards(2);
    host.add(skeleton);
    host.show();
    QVERIFY(skeleton->isShimmering()); // visible at once
    QTRY_VERIFY_WITH_TIMEOUT(skeleton->sweep() > -0.4, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(!skeleton->isShimmering(), 15000);
    // Shown again, it stays still.
    host.window.hide();
    host.window.show();
    QTest::qWait(50);
    QVERIFY(!skeleton->isShimmering());
}

void TestDesignWidgets::iconTable()
{
    QVERIFY(IconTable::resourcePath("no.such.symbol").isEmpty());
    QVERIFY(Icon::pixmap("no.such.symbol", 12, DS::mint()).isNull());
    QVERIFY(QFile::exists(":/icons/LICENSE-phosphor.txt"));
    for (const QString& name : IconTable::symbols())
        QVERIFY2(!Icon::pixmap(name, 24, DS::amber()).isNull(), qPrintable(name));
}

void TestDesignWidgets::elidedLabel()
{
    ElidedLabel label(2, QString("一段很长的任务说明，").repeated(30));
    const QStringList lines = label.linesForWidth(200);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.last().endsWith(QChar(0x2026)));
    QVERIFY(label.isElided(200));
    QCOMPARE(label.accessibleName(), label.text()); // a screen reader gets the whole text
    QCOMPARE(label.heightForWidth(200), 2 * label.fontMetrics().lineSpacing());

    ElidedLabel shortLabel(2, "<b>两行</b>");
    QCOMPARE(shortLabel.linesForWidth(400), QStringList { "<b>两行</b>" }); // plain text, never markup
    QVERIFY(!shortLabel.isElided(400));
    ElidedLabel breaks(2, "one\ntwo\nthree");
    QCOMPARE(breaks.linesForWidth(400).size(), 2);
    QVERIFY(breaks.isElided(400));

    // The lines at one width follow a new text and a new font.
    ElidedLabel changing(3, "短");
    QCOMPARE(changing.linesForWidth(400), QStringList { "短" });
    changing.setText(QString("一段任务说明，").repeated(3));
    QCOMPARE(changing.linesForWidth(400).size(), 1);
    QFont big = changing.font();
    big.setPixelSize(changing.fontMetrics().height() * 3);
    changing.setFont(big);
    QVERIFY(changing.linesForWidth(400).size() > 1);
}

QTEST_MAIN(TestDesignWidgets)
#include "tst_DesignWidgets.moc"
