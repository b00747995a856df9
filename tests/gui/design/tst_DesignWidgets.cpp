// The shared widgets: what they do when pressed, folded, reconciled, hidden
// or scrolled away, and a gallery of all of them in their states saved for
// people to look at (the layout is judged there).
#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/design/IconTable.h"
#include "core/design/TolvarineStatus.h"
#include "core/platform/ReduceMotion.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/Card.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/DangerButton.h"
#include "gui/design/Disclosure.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/EmptyState.h"
#include "gui/design/ErrorBanner.h"
#include "gui/design/Icon.h"
#include "gui/design/KeyedReconciler.h"
#include "gui/design/LazyRows.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SectionHeader.h"
#include "gui/design/SkeletonCards.h"
#include "gui/design/StatusBadge.h"
#include "gui/design/TabChain.h"

#include <QAccessible>
#include <QClipboard>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// A shown top-level container of a given width with its children in a column.
struct Host {
    QWidget window;
    QVBoxLayout* column;
    explicit Host(int width, QList<QWidget*> children)
        : column(new QVBoxLayout(&window))
    {
        column->setContentsMargins(0, 0, 0, 0);
        window.resize(width, 400);
        for (QWidget* w : children)
            column->addWidget(w);
        column->addStretch(1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
};

QHBoxLayout* row(QVBoxLayout* into, int spacing = 10)
{
    auto* r = new QHBoxLayout;
    r->setSpacing(spacing);
    into->addLayout(r);
    return r;
}

QLabel* caption(const QString& text)
{
    return DSText::label(text, DSFont::monoMedium(10), DS::muted(0.45));
}

void save(QWidget* page, const QString& name)
{
    page->adjustSize();
    if (QLayout* l = page->layout(); l && l->hasHeightForWidth())
        page->resize(page->width(), l->totalHeightForWidth(page->width()));
    QTest::qWait(50);
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    const QPixmap shot = page->grab();
    QVERIFY(!shot.isNull() && shot.save(QDir(dir).filePath(name)));
}

// Counts the events of a type each watched object receives.
class EventCounter : public QObject {
public:
    struct Watch {
        QObject* object;
        QEvent::Type type;
        int* count;
    };
    explicit EventCounter(QList<Watch> watches)
        : m_watches(std::move(watches))
    {
        for (const Watch& w : m_watches)
            w.object->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        for (const Watch& w : m_watches)
            if (w.object == watched && w.type == event->type())
                ++*w.count;
        return false;
    }

private:
    QList<Watch> m_watches;
};

} // namespace

class TestDesignWidgets : public QObject {
    Q_OBJECT
private slots:
    void init() { ReduceMotion::setOverride(false); }
    void cleanup() { ReduceMotion::setOverride(std::nullopt); }

    void primaryButtonBusy()
    {
        int calls = 0;
        PrimaryButton button("批准", false, false, std::nullopt, [&] { ++calls; });
        button.resize(button.sizeHint());
        button.show();
        button.setBusy(true);
        QVERIFY(button.spinner()->isVisible() && !button.isEnabled());
        QTest::mouseClick(&button, Qt::LeftButton);
        button.setBusy(false);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(calls, 1); // only the press after busy ended

        // A button the caller disabled stays disabled when busy ends.
        button.setEnabled(false);
        button.setBusy(true);
        button.setBusy(false);
        QVERIFY(!button.isEnabled());
        button.setEnabled(true);
        button.setBusy(true);
        button.setEnabled(true); // enabling from outside does not make a busy button pressable
        QVERIFY(!button.isEnabled());
    }

    void errorBannerFold_data()
    {
        QTest::addColumn<std::optional<QString>>("evidence");
        QTest::newRow("absent") << std::optional<QString>();
        QTest::newRow("one space") << std::optional<QString>(" ");
        QTest::newRow("markup stays text") << std::optional<QString>("<b>exit 1</b>");
        // A long path without a break point wraps inside itself: the banner asks for no more than its host's width.
        QTest::newRow("long unbroken") << std::optional<QString>("spawn /opt/" + QString(300, 'x') + ": ENOENT");
    }

    void errorBannerFold()
    {
        QFETCH(std::optional<QString>, evidence);
        auto* banner = new ErrorBanner("<i>读不到</i> 执行状态", evidence);
        Host host(600, { banner });
        QCOMPARE(banner->textLabel()->accessibleName(), "<i>读不到</i> 执行状态");
        QCOMPARE(banner->textLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(banner->findChild<Disclosure*>() != nullptr, evidence.has_value());
        if (!evidence)
            return;
        QVERIFY(!banner->evidenceLabel()->isVisible());
        QTest::mouseClick(banner->evidenceFold()->header(), Qt::LeftButton);
        QVERIFY(banner->showsEvidence() && banner->evidenceLabel()->isVisible());
        QCOMPARE(banner->evidenceLabel()->textFormat(), Qt::PlainText);
        QVERIFY2(host.window.minimumSizeHint().width() <= 600,
            qPrintable(QString::number(host.window.minimumSizeHint().width())));

        // New content keeps the fold open.
        banner->setContent("失败", QString("exit 2"));
        QVERIFY(banner->showsEvidence());
        QCOMPARE(banner->evidenceLabel()->text(), "exit 2");
    }

    void reconcilerKeepsIdentity()
    {
        QWidget parent;
        auto* layout = new QVBoxLayout(&parent);
        layout->addStretch(1);
        KeyedReconciler<QString, QLabel> rec;
        int created = 0;
        auto apply = [&](const QStringList& ids) {
            const QList<QLabel*> widgets = rec.reconcile(
                ids, [](const QString& id) { return id; },
                [&](const QString&) { return ++created, new QLabel(&parent); },
                [](QLabel* l, const QString& id) { l->setText(id); });
            KeyedLayout::place(layout, widgets);
            return widgets;
        };
        const QList<QLabel*> first = apply({ "a", "b", "c" });
        QPointer<QLabel> b = first.at(1);

        const QList<QLabel*> second = apply({ "c", "a", "d", "a" }); // the repeated "a" is skipped
        QCOMPARE(created, 4);
        QCOMPARE(second.mid(0, 2), (QList<QLabel*> { first.at(2), first.at(0) }));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(layout->indexOf(second.at(i)), i);
        QVERIFY(layout->itemAt(layout->count() - 1)->spacerItem()); // the stretch stays last
        QVERIFY(b && b->isHidden());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!b);

        // A widget deleted from outside is made anew.
        delete second.at(2);
        QCOMPARE(apply({ "c", "a", "d" }).at(2)->text(), "d");
        QCOMPARE(created, 5);
    }

    // The placeholder band sweeps a few times, then rests; with reduced motion it never moves.
    void skeletonBand()
    {
        auto* skeleton = new SkeletonCards(2);
        Host host(700, { skeleton });
        QVERIFY(skeleton->isShimmering()); // visible at once
        QTRY_VERIFY_WITH_TIMEOUT(skeleton->sweep() > -0.4, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!skeleton->isShimmering(), 15000);
        host.window.hide();
        host.window.show();
        QTest::qWait(50);
        QVERIFY(!skeleton->isShimmering()); // shown again, it stays still

        ReduceMotion::setOverride(true);
        auto* still = new SkeletonCards(3);
        Host stillHost(700, { still });
        const QImage before = still->grab().toImage();
        QTest::qWait(300);
        QVERIFY(!still->isShimmering());
        QCOMPARE(still->grab().toImage(), before);
    }

    // A spinner scrolled out of view stops drawing frames (a window open all day
    // costs nothing for it) and turns again once it is back in view.
    void spinnerOnlyTurnsOnScreen()
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

    void iconTable()
    {
        QVERIFY(IconTable::resourcePath("no.such.symbol").isEmpty());
        QVERIFY(Icon::pixmap("no.such.symbol", 12, DS::mint()).isNull());
        QVERIFY(QFile::exists(":/icons/LICENSE-phosphor.txt"));
        for (const QString& name : IconTable::symbols())
            QVERIFY2(!Icon::pixmap(name, 24, DS::amber()).isNull(), qPrintable(name));
    }

    // Rows made as they come into view, three to a line, where only a few
    // rows hold a control: the first and last of those are made wherever they
    // stand, and so is the next one past the row the keyboard is in, so Tab
    // never skips one not made yet.
    void lazyRowsMakeTheKeyboardsRows()
    {
        const QStringList stops { "k300", "k330", "k390" };
        QScrollArea area;
        area.setWidgetResizable(true);
        auto* page = new QWidget;
        auto* col = new QVBoxLayout(page);
        // The window's first control, where the keyboard starts.
        col->addWidget(new QPushButton("above"));
        auto* rows = new LazyRows(
            nullptr, 10,
            [&stops](const QString& key) -> QWidget* {
                QWidget* row = stops.contains(key) ? static_cast<QWidget*>(new QPushButton(key)) : new QLabel(key);
                row->setFixedHeight(40);
                return row;
            },
            [](QWidget*, const QString&) {});
        rows->setColumns([](int width) { return width >= 300 ? 3 : 1; });
        rows->setStops([&stops](const QString& key) { return stops.contains(key); });
        col->addWidget(rows);
        area.setWidget(page);
        area.resize(400, 300);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        QStringList keys;
        for (int i = 0; i < 400; ++i)
            keys << QStringLiteral("k%1").arg(i);
        rows->setKeys(keys);

        QTRY_COMPARE(rows->columnCount(), 3);
        QVERIFY(rows->row("k300") && rows->row("k390") && !rows->row("k330") && !rows->row("k200"));
        QVERIFY2(rows->madeCount() < 60, qPrintable(QString::number(rows->madeCount())));
        // Three to a line, each line 40 high and 10 apart.
        QWidget* fourth = rows->row("k4");
        QVERIFY(fourth);
        QCOMPARE(fourth->y(), 50);
        QVERIFY(fourth->x() > rows->row("k3")->x() && fourth->x() < rows->row("k5")->x());
        QCOMPARE(rows->row("k300")->y(), 100 * 50);
        QCOMPARE(rows->heightForWidth(rows->width()), 134 * 50 - 10);

        area.activateWindow();
        QTRY_VERIFY(area.isActiveWindow());
        rows->row("k300")->setFocus();
        QTRY_VERIFY(rows->row("k330"));
    }

    // Five thousand rows of mixed heights in a sheet's scroll area: rows that
    // left the view are let go, while the keyboard (Tab, Home and End, and
    // going on from where a row that held it left), a press after scrolling
    // back and assistive technology still reach every row, and a row made
    // for assistive technology moves nothing on screen.
    void lazyRowsLetGoOfWhatLeftTheView()
    {
        // A window whose Tab follows the places on screen, as every window's does.
        struct Window : QWidget {
            bool focusNextPrevChild(bool next) override { return TabChain::focusNextPrevChild(this, next); }
        } window;
        auto* frame = new QVBoxLayout(&window);
        auto& area = *new QScrollArea;
        frame->addWidget(&area);
        area.setWidgetResizable(true);
        auto* page = new QWidget;
        auto* col = new QVBoxLayout(page);
        QStringList pressed;
        auto* rows = new LazyRows(
            &area, 10,
            [&pressed](const QString& key) -> QWidget* {
                auto* row = new QWidget;
                auto* button = new QPushButton(key, row);
                button->setObjectName(key);
                QObject::connect(button, &QPushButton::clicked, [&pressed, key] { pressed << key; });
                row->setFixedHeight(30 + key.mid(1).toInt() % 4 * 20);
                return row;
            },
            [](QWidget*, const QString&) {});
        // One row the caller keeps (an action on it under way).
        rows->setKeep([](const QString& key) { return key == "k1234"; });
        col->addWidget(rows);
        area.setWidget(page);
        window.resize(400, 300);
        QStringList keys;
        for (int i = 0; i < 5000; ++i)
            keys << QStringLiteral("k%1").arg(i);
        rows->setKeys(keys);
        window.show();
        window.activateWindow();
        QTRY_VERIFY(window.isActiveWindow());
        QScrollBar* bar = area.verticalScrollBar();
        const auto alive = [rows] { return rows->findChildren<QPushButton*>().size(); };
        const auto focused
            = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : ""; };

        for (int value = 0; value < bar->maximum(); value += area.viewport()->height()) {
            bar->setValue(value);
            QVERIFY2(rows->madeCount() <= 50, qPrintable(QString::number(rows->madeCount())));
        }
        bar->setValue(bar->maximum());
        QTRY_VERIFY2(alive() <= 50, qPrintable(QString::number(alive())));
        QVERIFY(!rows->row("k2500") && rows->row("k1234"));
        const auto inView = [&area](QWidget* w) {
            return w && area.viewport()->rect().contains(QRect(w->mapTo(area.viewport(), QPoint(0, 0)), w->size()));
        };
        // Scrolled back, a row let go is made again and takes a press.
        rows->makeRow("k2500");
        area.ensureWidgetVisible(rows->row("k2500"));
        QTRY_VERIFY(inView(rows->findChild<QPushButton*>("k2500")));
        QTest::mouseClick(rows->findChild<QPushButton*>("k2500"), Qt::LeftButton);
        QCOMPARE(pressed, QStringList { "k2500" });

        // Tab walks on through rows made as it goes and let go behind it.
        rows->findChild<QPushButton*>("k2500")->setFocus(Qt::TabFocusReason);
        for (int i = 2501; i <= 2560; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(focused(), QStringLiteral("k%1").arg(i));
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focused(), QStringLiteral("k2559"));
        QTRY_VERIFY2(alive() <= 60, qPrintable(QString::number(alive())));

        // Assistive technology reaches every row; the view and the focused control stay where they are.
        QWidget* focus = QApplication::focusWidget();
        const QPoint at = focus->mapTo(area.viewport(), QPoint(0, 0));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(rows);
        QCOMPARE(list->childCount(), 5000);
        for (int i = 0; i < 5000; i += 97) {
            QAccessibleInterface* child = list->child(i);
            QCOMPARE(child->object(), rows->row(keys.at(i)));
            QCOMPARE(list->indexOfChild(child), i);
            QCoreApplication::processEvents();
        }
        QTest::qWait(50);
        QCOMPARE(focus->mapTo(area.viewport(), QPoint(0, 0)), at);
        QTRY_VERIFY2(alive() <= 90, qPrintable(QString::number(alive())));

        // A row that held the keyboard leaves: the focus waits on the list, Tab and Shift+Tab go on from its place.
        for (const auto& [gone, key, next] :
            { std::tuple { "k2559", Qt::Key_Tab, "k2560" }, std::tuple { "k2560", Qt::Key_Backtab, "k2558" } }) {
            keys.removeOne(gone);
            rows->setKeys(keys, {});
            QVERIFY(rows->hasFocus());
            QTest::keyClick(rows, key);
            QCOMPARE(focused(), QString::fromLatin1(next));
            QVERIFY(inView(QApplication::focusWidget()));
        }
        // Home and End reach the ends of the list.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        QCOMPARE(focused(), QStringLiteral("k4999"));
        QTRY_VERIFY(inView(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
        QCOMPARE(focused(), QStringLiteral("k0"));
        QTRY_COMPARE(bar->value(), 0);
    }

    // A refresh that changes no row lays out nothing around the column, nor
    // repaints a tint set again; one row's new content lays it out again.
    void lazyRowsLayOutOnlyWhatChanged()
    {
        QHash<QString, QString> texts { { "a", "一行" }, { "b", "一行" } };
        auto* rows = new LazyRows(
            nullptr, 4, [](const QString&) -> QWidget* { return new QLabel; },
            [&texts](QWidget* row, const QString& key) { static_cast<QLabel*>(row)->setText(texts.value(key)); });
        auto* card = new Card(DS::cyan(), false);
        Host host(300, { rows, card });
        rows->setKeys({ "a", "b" });
        QTRY_VERIFY(rows->row("b") && rows->row("b")->isVisible());
        QTest::qWait(20);
        int laidOut = 0;
        int painted = 0;
        EventCounter count({ { &host.window, QEvent::LayoutRequest, &laidOut }, { card, QEvent::Paint, &painted } });
        rows->setKeys({ "a", "b" }, {});
        card->setTint(DS::cyan());
        QTest::qWait(20);
        QCOMPARE(laidOut, 0);
        QCOMPARE(painted, 0);
        texts["b"] = "两行\n两行";
        rows->setKeys({ "a", "b" }, { "b" });
        QTRY_VERIFY(laidOut > 0);
        QTRY_COMPARE(rows->row("b")->height(), rows->row("b")->sizeHint().height());
    }

    // The grid's height follows a cell whose text grew, whether the grid was
    // shown then or hidden, and whatever heights it measured before.
    void adaptiveColumnsFollowTheirCells_data()
    {
        QTest::addColumn<bool>("hidden");
        QTest::newRow("shown") << false;
        QTest::newRow("hidden meanwhile") << true;
    }
    void adaptiveColumnsFollowTheirCells()
    {
        QFETCH(bool, hidden);
        QWidget host;
        host.setFixedSize(400, 600);
        auto* col = new QVBoxLayout(&host);
        auto* grid = new AdaptiveColumns(340, 10);
        col->addWidget(grid);
        col->addStretch(1);
        const QStringList ids { "a", "b" };
        const auto fill = [&](const QString& text) {
            grid->reconcile(
                ids, [](const QString& id) { return id; },
                [](const QString&) -> QWidget* {
                    auto* label = new QLabel;
                    label->setWordWrap(true);
                    return label;
                },
                [&text](QWidget* cell, const QString& id) {
                    if (id == "a" || text == "x")
                        static_cast<QLabel*>(cell)->setText(text);
                });
        };
        fill("x");
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const int before = grid->height();
        QCOMPARE(grid->heightForWidth(grid->width()), before);
        if (hidden)
            grid->hide();
        // Only the first cell's text changes, from the cell itself, as a poll would change it.
        static_cast<QLabel*>(grid->cell("a"))->setText(QString("a longer line that wraps ").repeated(12));
        QTest::qWait(20);
        grid->show();
        QWidget* grown = grid->cell("a");
        QTRY_COMPARE(grown->height(), grown->heightForWidth(grown->width()));
        QTRY_VERIFY(grid->height() > before);
        QCOMPARE(grid->height(), grid->heightForWidth(grid->width()));
        QVERIFY(grid->cell("b")->geometry().top() > grown->geometry().bottom());
    }

    void elidedLabel()
    {
        ElidedLabel label(2, QString("一段很长的任务说明，").repeated(30));
        const QStringList lines = label.linesForWidth(200);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.last().endsWith(QChar(0x2026)) && label.isElided(200));
        QCOMPARE(label.accessibleName(), label.text()); // a screen reader gets the whole text

        ElidedLabel shortLabel(2, "<b>两行</b>");
        QCOMPARE(shortLabel.linesForWidth(400), QStringList { "<b>两行</b>" }); // plain text, never markup
        ElidedLabel breaks(2, "one\ntwo\nthree");
        QVERIFY(breaks.linesForWidth(400).size() == 2 && breaks.isElided(400));

        // The lines at one width follow a new text and a new font.
        ElidedLabel changing(3, "短");
        changing.setText(QString("一段任务说明，").repeated(3));
        QCOMPARE(changing.linesForWidth(400).size(), 1);
        QFont big = changing.font();
        big.setPixelSize(changing.fontMetrics().height() * 3);
        changing.setFont(big);
        QVERIFY(changing.linesForWidth(400).size() > 1);
    }

    // Text without a space wraps inside itself and the mouse selects across
    // those lines: the selection copies exactly what lies between its ends.
    void anywhereLabelSelects()
    {
        AnywhereLabel label;
        label.setSelectable();
        label.setText(QStringLiteral("0123456789").repeated(40));
        label.resize(200, label.heightForWidth(200));
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QVERIFY(label.height() > 3 * label.fontMetrics().height());
        QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(1, 2));
        QTest::mouseMove(&label, QPoint(60, label.height() / 2));
        QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(60, label.height() / 2));
        const QString selected = label.selectedText();
        QVERIFY2(selected.size() > 40 && label.text().startsWith(selected), qPrintable(selected));
        QTest::keyClick(&label, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), selected);
    }

    // Every shared widget in its states on the application's background.
    void gallery()
    {
        auto root = std::make_unique<QWidget>();
        root->setAutoFillBackground(true);
        QPalette palette = root->palette();
        palette.setColor(QPalette::Window, DS::bg());
        root->setPalette(palette);
        root->setFixedWidth(1100);
        auto* col = new QVBoxLayout(root.get());
        col->setContentsMargins(24, 24, 24, 24);
        col->setSpacing(14);

        col->addWidget(new SectionHeader("设计系统",
            "状态词、徽章、按钮、卡片、横幅、栅格与骨架屏。这一行是副标题，"
            "超过 640 像素时会换行，而不是被截断。",
            new SecondaryButton("刷新", std::nullopt, [] {})));

        col->addWidget(caption("TolvarineStatus · raw value badges / zh chips"));
        auto* statusGrid = new QGridLayout;
        statusGrid->setHorizontalSpacing(14);
        int i = 0;
        for (TolvarineStatus s : TolvarineStatuses::allCases()) {
            const QColor tint = TolvarineStatuses::tint(s);
            auto* cell = new QHBoxLayout;
            cell->addWidget(
                new StatusBadge(TolvarineStatuses::rawValue(s), tint, TolvarineStatuses::rawValue(s), i % 5 != 4));
            cell->addWidget(new Chip(TolvarineStatuses::zh(s), tint));
            cell->addStretch(1);
            statusGrid->addLayout(cell, i / 4, i % 4);
            ++i;
        }
        col->addLayout(statusGrid);

        col->addWidget(caption("StatusBadge(runtime:) · every usability"));
        auto* runtimeRow = row(col, 16);
        for (int u = 0; u <= int(RuntimeUsability::unknown); ++u)
            runtimeRow->addWidget(new StatusBadge(static_cast<RuntimeUsability>(u)));
        runtimeRow->addStretch(1);

        col->addWidget(caption("PrimaryButton · busy · SecondaryButton · DangerButton · disabled"));
        auto* buttons = row(col);
        buttons->addWidget(new PrimaryButton("批准", [] {}));
        buttons->addWidget(new PrimaryButton("批准", true, false, std::nullopt, [] {}));
        buttons->addWidget(new SecondaryButton("知道了", [] {}));
        buttons->addWidget(new DangerButton("删除这个账号", [] {}));
        auto* disabled = new DangerButton("拒绝", [] {});
        disabled->setEnabled(false);
        buttons->addWidget(disabled);
        buttons->addWidget(new BusyIndicator(DS::muted(0.6)));
        buttons->addStretch(1);
        for (bool busy : { false, true })
            col->addWidget(new PrimaryButton("开始配对", busy, true, std::nullopt, [] {}));

        const auto card = [](const QString& title, std::optional<QColor> tint, bool emphasized, QString body) {
            auto* card = new Card(tint, emphasized);
            card->contentLayout()->setSpacing(6);
            card->contentLayout()->addWidget(DSText::label(title, DSFont::bold(13.5), DS::ink()));
            if (!body.isEmpty()) {
                auto* text = new ElidedLabel(2, body);
                text->setFont(DSFont::medium(11.5));
                DSText::setColour(text, DS::muted(0.6));
                card->contentLayout()->addWidget(text);
            }
            return card;
        };
        col->addWidget(caption("kCard · plain · amber · amber emphasized · danger emphasized"));
        auto* cards = row(col);
        const QList<std::pair<std::optional<QColor>, bool>> looks { { std::nullopt, false }, { DS::amber(), false },
            { DS::amber(), true }, { DS::dangerFill(), true } };
        for (const auto& [tint, emph] : looks)
            cards->addWidget(card("Claude Code", tint, emph,
                "一段很长的任务说明：整理仓库里的测试，把失败的那几个修好，然后提交一个变更说明给审阅的人。"));

        bool retried = false;
        auto* empties = row(col);
        auto* empty = new EmptyState(EmptyState::Kind::emptyButHealthy, "还没有任务 —— 在手机上派一件活试试。");
        auto* unreadable = new EmptyState(EmptyState::Kind::unreadable, "读不到员工列表：网关没有回应。",
            EmptyState::Action { "重试", [&] { retried = true; } });
        empties->addWidget(empty);
        empties->addWidget(unreadable);

        // Error banners: without evidence, folded, unfolded.
        col->addWidget(new ErrorBanner("配对失败：companion tool 退出码 2"));
        col->addWidget(new ErrorBanner(
            "读不到执行状态", QString("GET /api/workspaces/ws/commands → 502\n<html>bad gateway</html>")));
        auto* open = new ErrorBanner(
            "Runtime 启动失败", QString("exit status 127: brenlow: command not found"), QString("runtime.error"));
        open->evidenceFold()->setExpanded(true);
        col->addWidget(open);

        // Five cards in three columns; the last row keeps the card width.
        col->addWidget(caption("AdaptiveColumns(minItem 340, spacing 10) · 5 items"));
        auto* grid = new AdaptiveColumns(340, 10);
        grid->reconcile(
            QStringList { "claude", "codex", "gemini", "qwen", "opencode" }, [](const QString& id) { return id; },
            [&](const QString& id) {
                return card(id, id == "codex" ? std::optional(DS::amber()) : std::nullopt, false,
                    id == "claude" ? "第二行：更高的卡片" : "");
            },
            [](QWidget*, const QString&) {});
        col->addWidget(grid);

        col->addWidget(caption("SkeletonCards(count 4) · band mid-sweep"));
        auto* skeleton = new SkeletonCards(4);
        col->addWidget(skeleton);
        col->addStretch(1);

        root->show();
        QVERIFY(QTest::qWaitForWindowExposed(root.get()));
        // Let the band travel into the grid before the picture is taken.
        QTRY_VERIFY_WITH_TIMEOUT(skeleton->sweep() > 0.35 && skeleton->sweep() < 0.8, 5000);
        save(root.get(), "design-gallery.png");

        // An empty state offers its action only when it has one.
        QVERIFY(!empty->actionButton());
        QTest::mouseClick(unreadable->actionButton(), Qt::LeftButton);
        QVERIFY(retried);
    }
};

QTEST_MAIN(TestDesignWidgets)
#include "tst_DesignWidgets.moc"
