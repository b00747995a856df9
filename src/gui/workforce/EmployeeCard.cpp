#include "gui/workforce/EmployeeCard.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/design/TolvarineStatus.h"
#include "core/workforce/EmployeeRules.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/ElidedLine.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/StatusBadge.h"
#include "gui/workforce/SymbolLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel* wrapping(const QFont& font, const QColor& colour, QWidget* parent)
{
    QLabel* l = DSText::label(QString(), font, colour, parent);
    l->setWordWrap(true);
    return l;
}

SymbolLabel* symbolLine(qreal size, const QColor& colour, QWidget* parent)
{
    return new SymbolLabel(QString(), QString(), size, DSFont::medium(size), colour, 2, parent);
}

void setText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace

EmployeeCard::EmployeeCard(const QString& id, std::function<void()> onOpen, QWidget* parent)
    : Card(std::nullopt, false, parent)
{
    setObjectName(QStringLiteral("team.card.") + id);
    setMinimumWidth(320);
    setMaximumWidth(560);
    QVBoxLayout* stack = contentLayout();
    stack->setSpacing(9);

    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(8);
    m_name = new ElidedLine(Qt::ElideRight, QString(), this);
    m_name->setFont(DSFont::bold(15));
    DSText::setColour(m_name, DS::ink());
    nameRow->addWidget(m_name, 0, Qt::AlignVCenter);
    nameRow->addStretch(1);
    nameRow->addSpacing(6);
    m_badge = new StatusBadge(QString(), DS::muted(0.45), QString(), false, std::nullopt, this);
    m_badge->setObjectName(QStringLiteral("team.status.") + id);
    nameRow->addWidget(m_badge, 0, Qt::AlignVCenter);
    stack->addLayout(nameRow);

    m_role = new ElidedLine(Qt::ElideRight, QString(), this);
    m_role->setFont(DSFont::medium(11));
    DSText::setColour(m_role, DS::muted(0.5));
    stack->addWidget(m_role);

    m_skills = new QWidget(this);
    m_skillRow = new QHBoxLayout(m_skills);
    m_skillRow->setContentsMargins(0, 0, 0, 0);
    m_skillRow->setSpacing(6);
    m_skillRow->addStretch(1);
    stack->addWidget(m_skills);

    auto* work = new QVBoxLayout;
    work->setSpacing(6);
    m_machineLine = symbolLine(11.5, DS::cyan(), this);
    work->addWidget(m_machineLine);
    m_runningList = new QVBoxLayout;
    m_runningList->setSpacing(6);
    work->addLayout(m_runningList);
    m_beyond = DSText::label(QString(), DSFont::medium(10.5), DS::at(DS::cyan(), 0.8), this);
    m_beyond->setObjectName(QStringLiteral("team.running.more.") + id);
    work->addWidget(m_beyond);
    m_awaitingApproval = symbolLine(11.5, DS::amber(), this);
    work->addWidget(m_awaitingApproval);
    m_waiting = symbolLine(11.5, DS::amber(), this);
    work->addWidget(m_waiting);
    m_failedUpstream = symbolLine(11.5, DS::failureRed(), this);
    work->addWidget(m_failedUpstream);
    m_noMachine = wrapping(DSFont::medium(11.5), DS::muted(0.55), this);
    m_noMachine->setText(QStringLiteral("还没分到机器 —— 在手机上给他绑一台之后才能接活。"));
    work->addWidget(m_noMachine);
    m_neverWorked
        = DSText::label(QStringLiteral("当前空闲 —— 还没接过活。"), DSFont::medium(11.5), DS::muted(0.5), this);
    work->addWidget(m_neverWorked);
    m_lastFinished = symbolLine(11, DS::muted(0.55), this);
    work->addWidget(m_lastFinished);
    m_sharedNote = wrapping(DSFont::medium(10.5), DS::muted(0.45), this);
    m_sharedNote->setText(QStringLiteral("这台机器上还绑着别的同事，这条活没有指派给谁 —— 不一定是他干的。"));
    work->addWidget(m_sharedNote);
    stack->addLayout(work);

    auto* machine = new QHBoxLayout;
    machine->setSpacing(6);
    m_runtime = new Chip(QString(), DS::muted(0.42), QString(), std::nullopt, this);
    machine->addWidget(m_runtime, 0, Qt::AlignVCenter);
    m_here = new Chip(QStringLiteral("在这台机器上"), DS::mint(), std::nullopt, std::nullopt, this);
    machine->addWidget(m_here, 0, Qt::AlignVCenter);
    machine->addStretch(1);
    stack->addLayout(machine);

    auto* actions = new QHBoxLayout;
    actions->setContentsMargins(0, 2, 0, 0);
    actions->setSpacing(8);
    m_open = new SecondaryButton(QStringLiteral("查看"), std::move(onOpen), this);
    actions->addWidget(m_open, 0, Qt::AlignVCenter);
    actions->addStretch(1);
    stack->addLayout(actions);
}

void EmployeeCard::setContent(const TeammateBrief& member, const WorkforceFacts& facts, bool isHere, bool selected)
{
    Shown next { member, facts, isHere, selected };
    if (m_shown == next)
        return;
    const bool first = !m_shown;

    if (first || m_shown->member.name != member.name) {
        m_name->setText(member.name);
        setAccessibleName(member.name);
    }
    if (first || m_shown->facts.status != facts.status || m_shown->facts.hasReading != facts.hasReading)
        m_badge->setLook({ TolvarineStatuses::zh(facts.status), TolvarineStatuses::tint(facts.status),
            TolvarineStatuses::rawValue(facts.status), facts.hasReading });
    m_role->setText(member.roleTitle);
    m_role->setVisible(!member.roleTitle.isEmpty());

    // The first three skills, one chip each.
    const QList<Chip*> chips = m_skillChips.reconcile(
        member.skills.mid(0, 3), [](const QString& s) { return s; },
        // Long labels share the row, each cut with an ellipsis.
        [this](const QString& s) { return Chip::skill(s, m_skills); }, [](Chip*, const QString&) {});
    KeyedLayout::place(m_skillRow, chips);
    m_skills->setVisible(!member.skills.isEmpty());

    updateWork(member, facts);

    const std::optional<QString> runtime = EmployeeRules::runtimeChip(facts.runtime);
    if (runtime && m_runtime->shownText() != *runtime)
        m_runtime->setText(QString(), *runtime);
    m_runtime->setVisible(runtime.has_value());
    m_here->setVisible(isHere);

    if (first || m_shown->selected != selected) {
        setTint(selected ? std::optional<QColor>(DS::cyan()) : std::nullopt);
        setEmphasized(selected);
    }
    m_shown = std::move(next);
}

void EmployeeCard::updateWork(const TeammateBrief& member, const WorkforceFacts& facts)
{
    const EmployeeRules::CardWork w = EmployeeRules::cardWork(member, facts);
    if (w.machineLine)
        m_machineLine->setContent(w.machineLine->symbol, w.machineLine->text, w.machineLine->colour);
    m_machineLine->setVisible(w.machineLine.has_value());

    const QList<SymbolLabel*> running = m_running.reconcile(
        w.running, [](const CommandBrief& c) { return c.id; },
        [this](const CommandBrief&) { return symbolLine(11.5, DS::cyan(), this); },
        [](SymbolLabel* l, const CommandBrief& c) { l->setContent(QStringLiteral("play.fill"), c.text, DS::cyan()); });
    KeyedLayout::place(m_runningList, running);
    if (w.runningBeyond > 0)
        setText(m_beyond, EmployeeRules::runningBeyondText(w.runningBeyond));
    m_beyond->setVisible(w.runningBeyond > 0);

    if (w.awaitingApproval)
        m_awaitingApproval->setContent(
            w.awaitingApproval->symbol, w.awaitingApproval->text, w.awaitingApproval->colour);
    m_awaitingApproval->setVisible(w.awaitingApproval.has_value());
    if (w.waiting)
        m_waiting->setContent(w.waiting->symbol, w.waiting->text, w.waiting->colour);
    m_waiting->setVisible(w.waiting.has_value());
    if (w.failedUpstream)
        m_failedUpstream->setContent(w.failedUpstream->symbol, w.failedUpstream->text, w.failedUpstream->colour);
    m_failedUpstream->setVisible(w.failedUpstream.has_value());

    using State = EmployeeRules::CardWork::State;
    m_noMachine->setVisible(w.state == State::noMachine);
    m_neverWorked->setVisible(w.state == State::neverWorked);
    if (w.lastFinished)
        m_lastFinished->setContent(w.lastFinished->symbol, w.lastFinished->text, w.lastFinished->colour);
    m_lastFinished->setVisible(w.state == State::lastFinished);
    m_sharedNote->setVisible(w.sharedNote);
}
