#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/design/TolvarineStatus.h"
#include "core/platform/ReduceMotion.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/Card.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/DangerButton.h"
#include "gui/design/Disclosure.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/EmptyState.h"
#include "gui/design/ErrorBanner.h"
#include "gui/design/PrimaryButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SectionHeader.h"
#include "gui/design/SkeletonCards.h"
#include "gui/design/StatusBadge.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QtTest>

// Renders every shared widget in its states on the application's background
// and saves the pictures for people to look at.
class TestDesignGallery : public QObject {
    Q_OBJECT
private slots:
    void gallery();

private:
    static void save(QWidget* page, const QString& name);
};

namespace {

QWidget* page(int width)
{
    auto* w = new QWidget;
    w->setAutoFillBackground(true);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, DS::bg());
    w->setPalette(p);
    w->setFixedWidth(width);
    return w;
}

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

} // namespace

void TestDesignGallery::save(QWidget* page, const QString& name)
{
    page->show();
    QVERIFY(QTest::qWaitForWindowExposed(page));
    page->adjustSize();
    if (QLayout* l = page->layout(); l && l->hasHeightForWidth())
        page->resize(page->width(), l->totalHeightForWidth(page->width()));
    QTest::qWait(50);
    const QString dir = QStringLiteral(TOLVARINE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    const QPixmap shot = page->grab();
    QVERIFY(!shot.isNull());
    QVERIFY(shot.save(QDir(dir).filePath(name)));
}

void TestDesignGallery::gallery()
{
    ReduceMotion::setOverride(false);
    std::unique_ptr<QWidget> root(page(1100));
    auto* col = new QVBoxLayout(root.get());
    col->setContentsMargins(24, 24, 24, 24);
    col->setSpacing(14);

    col->addWidget(new SectionHeader("设计系统",
        "状态词、徽章、按钮、卡片、横幅、栅格与骨架屏。这一行是副标题，"
        "超过 640 像素时会换行，而不是被截断。",
        new SecondaryButton("刷新", std::nullopt, [] {})));

    // Status vocabulary: word badges and Chinese chips.
    col->addWidget(caption("TolvarineStatus · raw value badges / zh chips"));
    auto* statusGrid = new QGridLayout;
    statusGrid->setHorizontalSpacing(14);
    statusGrid->setVerticalSpacing(6);
    int i = 0;
    for (TolvarineStatus s : TolvarineStatuses::allCases()) {
        const QColor tint = TolvarineStatuses::tint(s);
        auto* cell = new QHBoxLayout;
        cell->setSpacing(6);
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

    // Buttons.
    col->addWidget(caption("PrimaryButton · busy · SecondaryButton · DangerButton · disabled"));
    auto* buttons = row(col);
    buttons->addWidget(new PrimaryButton("批准", [] {}));
    buttons->addWidget(new PrimaryButton("批准", true, false, std::nullopt, [] {}));
    buttons->addWidget(new SecondaryButton("知道了", [] {}));
    buttons->addWidget(new DangerButton("删除这个账号", [] {}));
    auto* disabled = new DangerButton("拒绝", [] {});
    disabled->setEnabled(false);
    buttons->addWidget(disabled);
    auto* spinner = new BusyIndicator(DS::muted(0.6));
    buttons->addWidget(spinner);
    buttons->addStretch(1);
    col->addWidget(new PrimaryButton("开始配对", false, true, std::nullopt, [] {}));
    col->addWidget(new PrimaryButton("开始配对", true, true, std::nullopt, [] {}));

    // Cards.
    col->addWidget(caption("kCard · plain · amber · amber emphasized · danger emphasized"));
    auto* cards = row(col);
    const QList<std::pair<std::optional<QColor>, bool>> looks { { std::nullopt, false }, { DS::amber(), false },
        { DS::amber(), true }, { DS::dangerFill(), true } };
    for (const auto& [tint, emph] : looks) {
        auto* card = new Card(tint, emph);
        card->contentLayout()->setSpacing(6);
        card->contentLayout()->addWidget(DSText::label("Claude Code", DSFont::bold(13.5), DS::ink()));
        auto* body = new ElidedLabel(
            2, "一段很长的任务说明：整理仓库里的测试，把失败的那几个修好，然后提交一个变更说明给审阅的人。");
        body->setFont(DSFont::medium(11.5));
        DSText::setColour(body, DS::muted(0.6));
        card->contentLayout()->addWidget(body);
        cards->addWidget(card);
    }

    // Empty states.
    auto* empties = row(col);
    empties->addWidget(new EmptyState(EmptyState::Kind::emptyButHealthy, "还没有任务 —— 在手机上派一件活试试。"));
    empties->addWidget(new EmptyState(
        EmptyState::Kind::unreadable, "读不到员工列表：网关没有回应。", EmptyState::Action { "重试", [] {} }));

    // Error banners: without evidence, folded, unfolded.
    col->addWidget(new ErrorBanner("配对失败：companion tool 退出码 2"));
    col->addWidget(
        new ErrorBanner("读不到执行状态", QString("GET /api/workspaces/ws/commands → 502\n<html>bad gateway</html>")));
    auto* open = new ErrorBanner(
        "Runtime 启动失败", QString("exit status 127: brenlow: command not found"), QString("runtime.error"));
    open->evidenceFold()->setExpanded(true);
    col->addWidget(open);

    // Grid: five cards in three columns; the last row keeps the card width.
    col->addWidget(caption("AdaptiveColumns(minItem 340, spacing 10) · 5 items"));
    auto* grid = new AdaptiveColumns(340, 10);
    grid->reconcile(
        QStringList { "claude", "codex", "gemini", "qwen", "opencode" }, [](const QString& id) { return id; },
        [](const QString& id) {
            auto* card = new Card(id == "codex" ? std::optional(DS::amber()) : std::nullopt, false);
            card->contentLayout()->setSpacing(6);
            auto* head = new QHBoxLayout;
            head->addWidget(DSText::label(id, DSFont::bold(13.5), DS::ink()));
            head->addStretch(1);
            head->addWidget(new StatusBadge(id == "codex" ? RuntimeUsability::loginRequired : RuntimeUsability::ready));
            card->contentLayout()->addLayout(head);
            if (id == "claude")
                card->contentLayout()->addWidget(
                    DSText::label("第二行：更高的卡片", DSFont::medium(11), DS::muted(0.5)));
            return card;
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
    ReduceMotion::setOverride(std::nullopt);
}

QTEST_MAIN(TestDesignGallery)
#include "tst_DesignGallery.moc"
