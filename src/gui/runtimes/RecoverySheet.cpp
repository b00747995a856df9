#include "gui/runtimes/RecoverySheet.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/runtimes/RecoveryRunner.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/BusyIndicator.h"
#include "gui/design/DSText.h"
#include "gui/design/Icon.h"
#include "gui/design/SecondaryButton.h"
#include "gui/runtimes/RecoveryStepRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 480;

// One entry of the needs-you list: a bullet, the step's title and below it
// what the user should do (or, without an action, what the step found).
QWidget* needsYouEntry(const RecoveryRunner::Step& step, QWidget* parent)
{
    auto* entry = new QWidget(parent);
    entry->setObjectName(QStringLiteral("recovery.needsyou.") + step.id);
    auto* row = new QHBoxLayout(entry);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(DSText::label(QStringLiteral("·"), DSFont::semiBold(11.5), DS::muted(0.4), entry), 0, Qt::AlignTop);
    auto* col = new QVBoxLayout;
    col->setSpacing(1);
    col->addWidget(DSText::label(step.title, DSFont::semiBold(11.5), DS::ink(), entry));
    // A path or a command without a space wraps inside itself.
    auto* what = new AnywhereLabel(entry);
    what->setSelectable();
    what->setText(step.action.isEmpty() ? step.detail : step.action);
    what->setFont(DSFont::medium(11));
    DSText::setColour(what, DS::muted(0.6));
    what->setObjectName(QStringLiteral("recovery.needsyou.") + step.id + QStringLiteral(".text"));
    col->addWidget(what);
    row->addLayout(col, 1);
    return entry;
}

} // namespace

RecoverySheet::RecoverySheet(RecoveryRunner* runner, QWidget* parent)
    : Sheet(QStringLiteral("recovery.sheet"), QStringLiteral("检查并恢复"), kWidth, parent)
    , m_runner(runner)
{
    QVBoxLayout* col = column();

    auto* header = new QHBoxLayout;
    header->addWidget(DSText::label(QStringLiteral("检查并恢复"), DSFont::bold(16), DS::ink(), this));
    header->addStretch(1);
    m_spinner = new BusyIndicator(DS::muted(0.7), 14, this);
    m_spinner->setObjectName(QStringLiteral("recovery.spinner"));
    header->addWidget(m_spinner, 0, Qt::AlignVCenter);
    col->addLayout(header);

    QLabel* subtitle = DSText::label(QStringLiteral("一次把能自己修的都修掉。真正需要你的会集中列在最后。"),
        DSFont::medium(11.5), DS::muted(0.55), this);
    subtitle->setWordWrap(true);
    col->addWidget(subtitle);

    // The steps and the verdict scroll on a screen too short for them; the close button stays.
    QVBoxLayout* body = addScrollingColumn();
    m_stepsLayout = new QVBoxLayout;
    m_stepsLayout->setSpacing(7);
    body->addLayout(m_stepsLayout);

    m_divider = new QWidget(this);
    m_divider->setObjectName(QStringLiteral("recovery.divider"));
    m_divider->setFixedHeight(1);
    m_divider->setAutoFillBackground(true);
    QPalette line = m_divider->palette();
    line.setColor(QPalette::Window, DS::muted(0.12));
    m_divider->setPalette(line);
    body->addWidget(m_divider);

    m_allGood = new QWidget(this);
    m_allGood->setObjectName(QStringLiteral("recovery.verdict.allgood"));
    m_allGood->setAccessibleName(QStringLiteral("都好了 —— 不需要你做什么"));
    auto* good = new QHBoxLayout(m_allGood);
    good->setContentsMargins(0, 0, 0, 0);
    good->setSpacing(6);
    good->addWidget(
        new Icon(QStringLiteral("checkmark.circle.fill"), 12.5, DS::mint(), m_allGood), 0, Qt::AlignVCenter);
    good->addWidget(
        DSText::label(QStringLiteral("都好了 —— 不需要你做什么"), DSFont::medium(12.5), DS::ink(), m_allGood));
    good->addStretch(1);
    body->addWidget(m_allGood);

    m_needsYou = new QWidget(this);
    m_needsYou->setObjectName(QStringLiteral("recovery.needsyou"));
    m_needsYouLayout = new QVBoxLayout(m_needsYou);
    m_needsYouLayout->setContentsMargins(0, 0, 0, 0);
    m_needsYouLayout->setSpacing(6);
    m_needsYouLayout->addWidget(
        DSText::label(QStringLiteral("需要你处理"), DSFont::semiBold(12), DS::amber(), m_needsYou));
    body->addWidget(m_needsYou);

    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    m_close = new SecondaryButton(
        QStringLiteral("关闭"), QStringLiteral("recovery.close"), [this] { reject(); }, this);
    footer->addWidget(m_close);
    col->addLayout(footer);

    connect(m_runner, &RecoveryRunner::changed, this, &RecoverySheet::refresh);
    refresh();
}

void RecoverySheet::refresh()
{
    const QList<RecoveryRunner::Step> steps = m_runner->steps();
    const bool running = m_runner->running();
    const bool finished = m_runner->finished();

    m_spinner->setVisible(running);

    const QList<RecoveryStepRow*> rows = m_rows.reconcile(
        steps, [](const RecoveryRunner::Step& step) { return step.id; },
        [this](const RecoveryRunner::Step& step) { return new RecoveryStepRow(step.id, innerWidth(), this); },
        [](RecoveryStepRow* row, const RecoveryRunner::Step& step) { row->setStep(step); });
    KeyedLayout::place(m_stepsLayout, rows);

    // The verdict belongs to a finished run; a new run hides it until it ends.
    QList<RecoveryRunner::Step> attention;
    if (finished)
        attention = m_runner->needsYou() + m_runner->failures();
    m_divider->setVisible(finished);
    m_allGood->setVisible(finished && attention.isEmpty());
    m_needsYou->setVisible(finished && !attention.isEmpty());
    while (m_needsYouLayout->count() > 1) {
        QLayoutItem* item = m_needsYouLayout->takeAt(1);
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    for (const RecoveryRunner::Step& step : std::as_const(attention)) {
        QWidget* entry = needsYouEntry(step, m_needsYou);
        m_needsYouLayout->addWidget(entry);
        // Shown now, not when control returns to the event loop: a widget not
        // yet shown takes no room, so the sheet would be measured without it
        // and its rows squeezed over one another once it shows.
        entry->show();
    }
    // Lays the list out now, so the sheet measures it with its entries.
    m_needsYouLayout->activate();

    const QString closeTitle = finished ? QStringLiteral("关闭") : QStringLiteral("在后台跑着，先关掉");
    m_close->setText(closeTitle);
    m_close->setAccessibleName(closeTitle);
    m_close->titleLabel()->setText(closeTitle);

    refit();
}
