#include "gui/tasks/RunnersCard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/tasks/TaskCards.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/DiagRow.h"
#include "gui/design/Disclosure.h"
#include "gui/design/ElidedLabel.h"
#include "gui/design/EmptyState.h"
#include "gui/design/ProseLabel.h"
#include "gui/design/RoundedPlate.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// The heartbeat dot: mint while fresh, amber once stale.
class Dot : public QWidget {
public:
    explicit Dot(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(7, 7);
    }
    void setColour(const QColor& colour)
    {
        m_colour = colour;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(m_colour);
        p.drawEllipse(rect());
    }

private:
    QColor m_colour = DS::mint();
};

class RunnerRow : public QWidget {
public:
    RunnerRow(const QString& deviceID, QWidget* parent)
        : QWidget(parent)
    {
        const QString id = QStringLiteral("agents.row.") + deviceID;
        setObjectName(id);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(7);
        m_dot = new Dot(this);
        row->addWidget(m_dot, 0, Qt::AlignVCenter);
        m_name = new ElidedLabel(1, QString(), this);
        m_name->setObjectName(id + QStringLiteral(".name"));
        m_name->setFont(DSFont::medium(12));
        DSText::setColour(m_name, DS::ink());
        row->addWidget(m_name, 0, Qt::AlignVCenter);
        m_here = new Chip(QStringLiteral("本机"), DS::cyan(), std::nullopt, std::nullopt, this);
        row->addWidget(m_here, 0, Qt::AlignVCenter);
        m_running = new Chip(QStringLiteral("正在执行"), DS::cyan(), std::nullopt, std::nullopt, this);
        row->addWidget(m_running, 0, Qt::AlignVCenter);
        row->addStretch(1);
        m_heartbeat = DSText::label(QString(), DSFont::monoMedium(10), DS::muted(0.45), this);
        m_heartbeat->setObjectName(id + QStringLiteral(".heartbeat"));
        row->addWidget(m_heartbeat, 0, Qt::AlignVCenter);
    }

    void setLook(const TaskCards::RunnerLook& look)
    {
        const QColor colour = look.stale ? DS::amber() : DS::muted(0.45);
        m_dot->setColour(look.stale ? DS::amber() : DS::mint());
        m_name->setText(look.name);
        // Name at its natural width, but never pushing the heartbeat out.
        m_name->setMaximumWidth(QFontMetrics(m_name->font()).horizontalAdvance(look.name) + 2);
        m_here->setVisible(look.thisDevice);
        m_running->setVisible(look.running);
        m_heartbeat->setText(look.heartbeat);
        DSText::setColour(m_heartbeat, colour);
    }

private:
    Dot* m_dot;
    ElidedLabel* m_name;
    Chip* m_here;
    Chip* m_running;
    QLabel* m_heartbeat;
};

} // namespace

RunnersCard::RunnersCard(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("agents.card"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    m_empty = new EmptyState(
        EmptyState::Kind::emptyButHealthy, QStringLiteral("这个工作区里还没有任何机器来找过活。"), std::nullopt, this);
    m_empty->setObjectName(QStringLiteral("agents.empty"));
    stack->addWidget(m_empty);

    m_plate = new RoundedPlate(this);
    auto* plate = new QVBoxLayout(m_plate);
    plate->setContentsMargins(10, 10, 10, 10);
    plate->setSpacing(6);
    m_header = DSText::label(QString(), DSFont::bold(12), DS::muted(0.55), m_plate);
    plate->addWidget(m_header);
    m_rowsLayout = new QVBoxLayout;
    m_rowsLayout->setSpacing(6);
    plate->addLayout(m_rowsLayout);

    auto* diag = new QWidget;
    diag->setFont(DSFont::monoMedium(10.5));
    auto* diagStack = new QVBoxLayout(diag);
    diagStack->setContentsMargins(0, 4, 0, 0);
    diagStack->setSpacing(4);
    m_diagLayout = new QVBoxLayout;
    m_diagLayout->setSpacing(4);
    diagStack->addLayout(m_diagLayout);
    auto* note = new ProseLabel(QStringLiteral("协议里只有设备 id 和最后一次找活的时间，没有操作系统和机型 —— "
                                               "由 App 猜出来的机型和真话长得一模一样，所以一个字都不写。"),
        diag);
    DSText::setColour(note, DS::muted(0.45));
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    diagStack->addWidget(note, 0, Qt::AlignLeft);
    m_details = new Disclosure(QStringLiteral("底层信息"), diag, m_plate);
    m_details->setObjectName(QStringLiteral("agents.details"));
    m_details->setHeaderFont(DSFont::semiBold(11));
    m_details->setTint(DS::muted(0.5));
    plate->addWidget(m_details);
    stack->addWidget(m_plate);
}

void RunnersCard::setContent(const Content& c)
{
    if (m_shown == c)
        return;
    m_shown = c;
    // The runtime-state card already says that nothing can be read.
    setVisible(!c.commandsFailed);
    const bool any = !c.commandsFailed && !c.runners.isEmpty();
    m_empty->setVisible(!c.commandsFailed && c.runners.isEmpty());
    m_plate->setVisible(any);
    const QList<RunnerInfo> shown = any ? c.runners : QList<RunnerInfo> {};
    m_header->setText(TaskCards::runnersHeader(int(shown.size())));

    auto keyOf = [](const RunnerInfo& r) { return r.deviceID; };
    const QList<QWidget*> rows = m_rows.reconcile(
        shown, keyOf, [this](const RunnerInfo& r) -> QWidget* { return new RunnerRow(r.deviceID, m_plate); },
        [&c](QWidget* row, const RunnerInfo& r) {
            static_cast<RunnerRow*>(row)->setLook(TaskCards::runnerLook(r, c.config, c.commands));
        });
    KeyedLayout::place(m_rowsLayout, rows);

    QWidget* diag = m_details->content();
    const QList<QWidget*> diagRows = m_diag.reconcile(
        shown, keyOf,
        [diag](const RunnerInfo& r) -> QWidget* {
            auto* row = new DiagRow(QStringLiteral("设备 id"), r.deviceID, diag);
            row->valueLabel()->setTextInteractionFlags(Qt::TextSelectableByMouse);
            return row;
        },
        [](QWidget*, const RunnerInfo&) {});
    KeyedLayout::place(m_diagLayout, diagRows);
}
