#include "gui/workforce/EmployeeDetailBody.h"

#include "core/design/DS.h"
#include "core/design/DSFont.h"
#include "core/design/TolvarineStatus.h"
#include "core/gateway/Status.h"
#include "core/workforce/CollabCopy.h"
#include "core/workforce/EmployeeRules.h"
#include "core/workforce/SkillLoader.h"
#include "gui/design/AnywhereLabel.h"
#include "gui/design/Card.h"
#include "gui/design/Chip.h"
#include "gui/design/DSText.h"
#include "gui/design/Disclosure.h"
#include "gui/design/EmptyState.h"
#include "gui/design/ErrorBanner.h"
#include "gui/design/Marker.h"
#include "gui/design/SectionHeader.h"
#include "gui/design/SelectableText.h"
#include "gui/design/StatusBadge.h"
#include "gui/tasks/TaskEvidenceView.h"
#include "gui/workforce/SkillDeliverySection.h"
#include "gui/workforce/SymbolLabel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// Plain text, wrapping between words and, inside a word wider than the line
// (a name, a task or a failure without a space), anywhere: never wider than the detail.
QLabel* wrapping(const QString& text, const QFont& font, const QColor& colour, QWidget* parent = nullptr)
{
    auto* l = new AnywhereLabel(parent);
    l->setText(text);
    l->setFont(font);
    DSText::setColour(l, colour);
    return l;
}

// An explanation with **bold** marks, wrapping.
QLabel* markup(const QString& text, const QFont& font, const QColor& colour, QWidget* parent = nullptr)
{
    QLabel* l = DSText::label(QString(), font, colour, parent);
    l->setWordWrap(true);
    DSText::setMarkup(l, text);
    return l;
}

void setText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

QVBoxLayout* addColumn(QVBoxLayout* into, int spacing, QWidget** out = nullptr)
{
    auto* w = new QWidget;
    auto* col = new QVBoxLayout(w);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(spacing);
    into->addWidget(w);
    if (out)
        *out = w;
    return col;
}

void setStatusBadge(StatusBadge* badge, TolvarineStatus s, bool hasReading)
{
    const StatusBadgeLook look { TolvarineStatuses::zh(s), TolvarineStatuses::tint(s), TolvarineStatuses::rawValue(s),
        hasReading };
    if (badge->look().text != look.text || badge->look().stable != look.stable
        || badge->look().hasReading != look.hasReading)
        badge->setLook(look);
}

// The first lines of a command's card: its status and time on one line, its text below.
class CommandHead {
public:
    CommandHead() = default;
    CommandHead(QVBoxLayout* stack, QWidget* owner)
    {
        auto* top = new QHBoxLayout;
        m_badge = new StatusBadge(QString(), DS::muted(0.45), QString(), true, std::nullopt, owner);
        top->addWidget(m_badge, 0, Qt::AlignVCenter);
        top->addStretch(1);
        m_time = DSText::label(QString(), DSFont::monoMedium(10), DS::muted(0.45), owner);
        top->addWidget(m_time, 0, Qt::AlignVCenter);
        stack->addLayout(top);
        m_text = wrapping(QString(), DSFont::semiBold(12.5), DS::ink(), owner);
        stack->addWidget(m_text);
    }

    void setContent(const CommandBrief& c, const std::optional<QDateTime>& at)
    {
        const std::optional<TolvarineStatus> s = c.tolvarineStatus();
        if (s)
            setStatusBadge(m_badge, *s, true);
        m_badge->setVisible(s.has_value());
        setText(m_time, EmployeeRules::hhmm(at));
        setText(m_text, c.text);
    }

private:
    StatusBadge* m_badge = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_text = nullptr;
};

// One running or blocked command: its status, issue time and text, and for
// a blocked one whom the employee waits on.
class TaskLine : public Card {
public:
    explicit TaskLine(QWidget* parent)
        : Card(std::nullopt, false, parent)
    {
        QVBoxLayout* stack = contentLayout();
        stack->setSpacing(6);
        m_head = CommandHead(stack, this);
        m_waiting
            = new SymbolLabel(QStringLiteral("hourglass"), QString(), 11, DSFont::medium(11), DS::amber(), 2, this);
        stack->addWidget(m_waiting);
    }

    void setContent(const CommandBrief& c, const QString& waitingSentence)
    {
        const std::optional<TolvarineStatus> s = c.tolvarineStatus();
        if (s && tint() != TolvarineStatuses::tint(*s))
            setTint(TolvarineStatuses::tint(*s));
        m_head.setContent(c, c.issuedAt);
        const bool blocked = c.status == QLatin1String("blocked");
        if (blocked)
            m_waiting->setContent(QStringLiteral("hourglass"), waitingSentence, DS::amber());
        m_waiting->setVisible(blocked);
    }

private:
    CommandHead m_head;
    SymbolLabel* m_waiting;
};

// A running command: its line, then its live evidence with the diff open.
class RunningRow : public QWidget {
public:
    RunningRow(const CommandBrief& c, Status* status, const std::optional<CLIConfig>& cfg, QWidget* parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("employee.running.") + c.id);
        auto* stack = new QVBoxLayout(this);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(6);
        m_line = new TaskLine(this);
        stack->addWidget(m_line);
        if (status && cfg) {
            m_evidence = new TaskEvidenceView(c, cfg, status, this);
            auto* pad = new QHBoxLayout;
            pad->setContentsMargins(4, 0, 4, 0);
            pad->addWidget(m_evidence);
            stack->addLayout(pad);
        }
    }

    void setContent(const CommandBrief& c, const QString& waitingSentence)
    {
        m_line->setContent(c, waitingSentence);
        if (m_evidence)
            m_evidence->setCommand(c);
    }

private:
    TaskLine* m_line;
    TaskEvidenceView* m_evidence = nullptr;
};

// A finished command: status and time, text, the start of its summary,
// whether it touched the user's files, and its evidence.
class RecentCard : public Card {
public:
    RecentCard(const CommandBrief& c, Status* status, const std::optional<CLIConfig>& cfg, QWidget* parent)
        : Card(std::nullopt, false, parent)
    {
        setObjectName(QStringLiteral("employee.recent.") + c.id);
        QVBoxLayout* stack = contentLayout();
        stack->setSpacing(6);
        m_head = CommandHead(stack, this);
        m_summary = wrapping(QString(), DSFont::medium(11), DS::muted(0.6), this);
        stack->addWidget(m_summary);
        m_files = new Chip(QString(), DS::muted(0.45), std::nullopt, std::nullopt, this);
        stack->addWidget(m_files, 0, Qt::AlignLeft);
        m_note = markup(QStringLiteral("这条活没有指派给谁，是**这台机器**领的。这台机器上还绑着别的同事。"),
            DSFont::medium(10.5), DS::muted(0.45), this);
        stack->addWidget(m_note);
        if (status && cfg) {
            auto* divider = new QFrame(this);
            divider->setFixedHeight(1);
            divider->setAutoFillBackground(true);
            QPalette p = divider->palette();
            p.setColor(QPalette::Window, DS::muted(0.1));
            divider->setPalette(p);
            stack->addSpacing(2);
            stack->addWidget(divider);
            stack->addSpacing(2);
            m_evidence = new TaskEvidenceView(c, cfg, status, this);
            stack->addWidget(m_evidence);
        }
    }

    void setContent(const CommandBrief& c, bool machineNote)
    {
        m_head.setContent(c, c.completedAt ? c.completedAt : c.issuedAt);
        setText(m_summary, EmployeeRules::firstLines(c.summary, 3));
        m_summary->setVisible(!c.summary.isEmpty());
        if (c.filesTouched) {
            const bool touched = *c.filesTouched;
            m_files->setText(touched ? QStringLiteral("动过你的文件") : QStringLiteral("没有动你的文件"));
            m_files->setTint(touched ? DS::amber() : DS::muted(0.45));
        }
        m_files->setVisible(c.filesTouched.has_value());
        m_note->setVisible(machineNote);
        if (m_evidence)
            m_evidence->setCommand(c);
    }

private:
    CommandHead m_head;
    QLabel* m_summary;
    Chip* m_files;
    QLabel* m_note;
    TaskEvidenceView* m_evidence = nullptr;
};

// A command that cannot start because work before it failed.
class FailedCard : public Card {
public:
    explicit FailedCard(QWidget* parent)
        : Card(DS::failureRed(), true, parent)
    {
        QVBoxLayout* stack = contentLayout();
        stack->setSpacing(5);
        m_text = wrapping(QString(), DSFont::semiBold(12.5), DS::ink(), this);
        stack->addWidget(m_text);
        m_why = wrapping(QString(), DSFont::medium(11), DS::failureRed(), this);
        stack->addWidget(m_why);
    }

    void setContent(const CommandBrief& c, const QString& sentence)
    {
        setText(m_text, c.text);
        setText(m_why, sentence + QStringLiteral("。它不会自己好。"));
    }

private:
    QLabel* m_text;
    QLabel* m_why;
};

} // namespace

EmployeeDetailBody::EmployeeDetailBody(
    const QString& employeeID, Status* status, std::optional<CLIConfig> cfg, QWidget* parent)
    : QWidget(parent)
    , m_status(status)
    , m_cfg(std::move(cfg))
    , m_loader(new SkillLoader(this))
{
    setObjectName(QStringLiteral("employee.detail.") + employeeID);
    auto* body = new QVBoxLayout(this);
    body->setContentsMargins(16, 16, 16, 16);
    body->setSpacing(20);
    buildHeader(body);
    buildCurrentWork(body);
    buildAttention(body);
    buildSkill(body);
    buildRecent(body);
    buildDiagnostics(body);
    body->addStretch(1);
    connect(m_loader, &SkillLoader::changed, this, &EmployeeDetailBody::showSkill);
}

QWidget* EmployeeDetailBody::runningRow(const QString& commandID) const
{
    return m_running.find(commandID);
}

// --- building ------------------------------------------------------------------

void EmployeeDetailBody::buildHeader(QVBoxLayout* body)
{
    QVBoxLayout* header = addColumn(body, 7);
    m_name = wrapping(QString(), DSFont::extraBold(16), DS::ink(), this);
    header->addWidget(m_name);
    m_roleTitle = wrapping(QString(), DSFont::medium(11.5), DS::muted(0.5), this);
    header->addWidget(m_roleTitle);
    auto* marks = new QHBoxLayout;
    marks->setSpacing(7);
    m_badge = new StatusBadge(QString(), DS::muted(0.45), QString(), false, std::nullopt, this);
    marks->addWidget(m_badge, 0, Qt::AlignVCenter);
    m_runtime = new Chip(QString(), DS::muted(0.42), QString(), std::nullopt, this);
    marks->addWidget(m_runtime, 0, Qt::AlignVCenter);
    m_here = new Chip(QStringLiteral("在这台机器上"), DS::mint(), std::nullopt, std::nullopt, this);
    marks->addWidget(m_here, 0, Qt::AlignVCenter);
    marks->addStretch(1);
    header->addLayout(marks);
    m_skills = new QWidget(this);
    m_skillRow = new QHBoxLayout(m_skills);
    m_skillRow->setContentsMargins(0, 0, 0, 0);
    m_skillRow->setSpacing(6);
    m_skillRow->addStretch(1);
    header->addWidget(m_skills);
}

void EmployeeDetailBody::buildCurrentWork(QVBoxLayout* body)
{
    QVBoxLayout* work = addColumn(body, 10);
    work->addWidget(new SectionHeader(QStringLiteral("手上的活")));
    m_noMachine = new EmptyState(EmptyState::Kind::emptyButHealthy,
        QStringLiteral("他还没分到机器，所以接不了活。在手机上给他绑一台之后，这里会显示他在跑什么。"));
    work->addWidget(m_noMachine);
    m_runningList = new QVBoxLayout;
    m_runningList->setSpacing(10);
    work->addLayout(m_runningList);
    m_sharedNote = markup(QStringLiteral("这台机器上还绑着别的同事。上面这条活是**这台机器**领的，不一定是他的。"),
        DSFont::medium(10.5), DS::muted(0.45));
    work->addWidget(m_sharedNote);
    m_machineLine = wrapping(QString(), DSFont::medium(12), DS::cyan());
    work->addWidget(m_machineLine);
    m_blockedList = new QVBoxLayout;
    m_blockedList->setSpacing(10);
    work->addLayout(m_blockedList);
    m_idle = new EmptyState(EmptyState::Kind::emptyButHealthy, QStringLiteral("当前空闲 —— 手上没有活。"));
    work->addWidget(m_idle);
}

void EmployeeDetailBody::buildAttention(QVBoxLayout* body)
{
    QVBoxLayout* attention = addColumn(body, 10, &m_attention);
    attention->addWidget(new SectionHeader(QStringLiteral("要你处理")));
    m_offline
        = new ErrorBanner(QStringLiteral("他那台机器的心跳停了。执行体可能已经关掉了 —— 在那台机器上重新开一次。"));
    attention->addWidget(m_offline);
    m_failedList = new QVBoxLayout;
    m_failedList->setSpacing(10);
    attention->addLayout(m_failedList);
    m_noRuntime
        = new ErrorBanner(QStringLiteral("他那台机器上没有能跑这件事的 CLI。装好或登录之后，这条会自己接着跑。"));
    attention->addWidget(m_noRuntime);
}

void EmployeeDetailBody::buildSkill(QVBoxLayout* body)
{
    QVBoxLayout* skill = addColumn(body, 0);
    m_anchor = new Marker(QStringLiteral("skill.anchor:EMPTY"));
    skill->addWidget(m_anchor);
    QVBoxLayout* unmapped = addColumn(skill, 6, &m_unmapped);
    unmapped->addWidget(new SectionHeader(QStringLiteral("技能与交付")));
    m_unmappedText = wrapping(QStringLiteral("这位同事还没有对应的生产技能（名字对不上任何已注册的技能）"),
        DSFont::medium(11.5), DS::muted(0.5));
    unmapped->addWidget(m_unmappedText);
    m_skill = new SkillDeliverySection;
    skill->addWidget(m_skill);
}

void EmployeeDetailBody::buildRecent(QVBoxLayout* body)
{
    QVBoxLayout* recent = addColumn(body, 10);
    recent->addWidget(new SectionHeader(QStringLiteral("最近完成")));
    m_recentList = new QVBoxLayout;
    m_recentList->setSpacing(10);
    recent->addLayout(m_recentList);
    m_noRecent = new EmptyState(EmptyState::Kind::emptyButHealthy, QStringLiteral("他还没有跑完过任何一件事。"));
    recent->addWidget(m_noRecent);
}

void EmployeeDetailBody::buildDiagnostics(QVBoxLayout* body)
{
    auto* content = new QWidget;
    auto* rows = new QVBoxLayout(content);
    rows->setContentsMargins(0, 6, 0, 0);
    rows->setSpacing(4);
    for (int i = 0; i < 10; ++i) {
        auto* line = new QHBoxLayout;
        line->setSpacing(8);
        QLabel* key = DSText::label(QString(), DSFont::monoMedium(10), DS::muted(0.4), content);
        key->setFixedWidth(92);
        key->setTextInteractionFlags(Qt::TextSelectableByMouse);
        line->addWidget(key, 0, Qt::AlignTop);
        auto* value = new SelectableText(DSFont::monoMedium(10), DS::muted(0.62), content);
        line->addWidget(value, 1, Qt::AlignTop);
        rows->addLayout(line);
        m_diagRows.append({ key, value });
    }
    m_diagnostics = new Disclosure(QStringLiteral("诊断"), content);
    m_diagnostics->setObjectName(QStringLiteral("employee.diagnostics"));
    m_diagnostics->setHeaderFont(DSFont::semiBold(11.5));
    m_diagnostics->setTint(DS::muted(0.5));
    body->addWidget(m_diagnostics);
}

// --- updating ------------------------------------------------------------------

void EmployeeDetailBody::setContent(const TeammateBrief& member, const WorkforceFacts& facts,
    const QString& thisMachine, const QList<CommandBrief>& recentFinished, const QString& employeeRole)
{
    updateHeader(member, facts, thisMachine);
    updateCurrentWork(member, facts);
    updateAttention(facts);
    updateRecent(facts, recentFinished);
    updateDiagnostics(member, facts);

    // The skill follows the role key: a new key loads again (now when shown,
    // else when the pane comes on screen).
    if (employeeRole != m_role) {
        m_role = employeeRole;
        m_anchor->setObjectName(
            QStringLiteral("skill.anchor:") + (m_role.isEmpty() ? QStringLiteral("EMPTY") : m_role));
        m_loadPending = true;
    }
    m_unmappedText->setObjectName(
        QStringLiteral("skill.unmapped:") + member.templateKey + QLatin1Char('|') + member.name);
    if (m_loadPending && isVisible())
        loadSkill();
    showSkill();
}

void EmployeeDetailBody::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_loadPending)
        loadSkill();
}

void EmployeeDetailBody::loadSkill()
{
    m_loadPending = false;
    // An empty role loads nothing, and a load still running for the old one is dropped.
    m_loader->load(m_role, m_cfg);
}

void EmployeeDetailBody::showSkill()
{
    m_unmapped->setVisible(m_role.isEmpty());
    m_skill->setVisible(!m_role.isEmpty());
    if (!m_role.isEmpty())
        m_skill->setContent(m_loader->skill(), m_loader->skillError(), m_role);
}

void EmployeeDetailBody::updateHeader(
    const TeammateBrief& member, const WorkforceFacts& facts, const QString& thisMachine)
{
    setText(m_name, member.name);
    setText(m_roleTitle, member.roleTitle);
    m_roleTitle->setVisible(!member.roleTitle.isEmpty());
    setStatusBadge(m_badge, facts.status, facts.hasReading);
    const std::optional<QString> runtime = EmployeeRules::runtimeChip(facts.runtime);
    if (runtime && m_runtime->shownText() != *runtime)
        m_runtime->setText(QString(), *runtime);
    m_runtime->setVisible(runtime.has_value());
    m_here->setVisible(!member.device.isEmpty() && member.device == thisMachine);

    const QList<Chip*> chips = m_skillChips.reconcile(
        member.skills.mid(0, 4), [](const QString& s) { return s; },
        // Long labels share the row, each cut with an ellipsis.
        [this](const QString& s) { return Chip::skill(s, m_skills); }, [](Chip*, const QString&) {});
    KeyedLayout::place(m_skillRow, chips);
    m_skills->setVisible(!member.skills.isEmpty());
}

void EmployeeDetailBody::updateCurrentWork(const TeammateBrief& member, const WorkforceFacts& facts)
{
    using EmployeeRules::CurrentWork;
    const CurrentWork work = EmployeeRules::currentWork(member, facts);
    const QString waiting = CollabCopy::waitingFor(facts.waitingOnNames);
    m_noMachine->setVisible(work == CurrentWork::noMachine);

    const QList<QWidget*> running = m_running.reconcile(
        work == CurrentWork::running ? facts.running : QList<CommandBrief> {},
        [](const CommandBrief& c) { return c.id; },
        [this](const CommandBrief& c) -> QWidget* { return new RunningRow(c, m_status, m_cfg, this); },
        [&](QWidget* w, const CommandBrief& c) { static_cast<RunningRow*>(w)->setContent(c, waiting); });
    KeyedLayout::place(m_runningList, running);
    m_sharedNote->setVisible(work == CurrentWork::running && facts.ambiguousOwnership);

    if (work == CurrentWork::machineLine)
        setText(m_machineLine, *facts.machineWorkLine);
    m_machineLine->setVisible(work == CurrentWork::machineLine);

    // Blocked work, else the work that waits for the user's approval: a task line each.
    const QList<QWidget*> blocked = m_blocked.reconcile(
        work == CurrentWork::blocked                ? facts.blockedMine
            : work == CurrentWork::awaitingApproval ? facts.awaitingApproval
                                                    : QList<CommandBrief> {},
        [](const CommandBrief& c) { return c.id; },
        [this](const CommandBrief&) -> QWidget* { return new TaskLine(this); },
        [&](QWidget* w, const CommandBrief& c) { static_cast<TaskLine*>(w)->setContent(c, waiting); });
    KeyedLayout::place(m_blockedList, blocked);
    m_idle->setVisible(work == CurrentWork::idle);
}

void EmployeeDetailBody::updateAttention(const WorkforceFacts& facts)
{
    const EmployeeRules::Attention a = EmployeeRules::needsAttention(facts);
    m_attention->setVisible(a.present());
    m_offline->setVisible(a.offline);
    const QString sentence = CollabCopy::blockedByFailure(facts.failedUpstreamNames);
    const QList<QWidget*> failed = m_failed.reconcile(
        a.dependencyFailed, [](const CommandBrief& c) { return c.id; },
        [this](const CommandBrief&) -> QWidget* { return new FailedCard(this); },
        [&](QWidget* w, const CommandBrief& c) { static_cast<FailedCard*>(w)->setContent(c, sentence); });
    KeyedLayout::place(m_failedList, failed);
    m_noRuntime->setVisible(a.runtimeUnavailable);
}

void EmployeeDetailBody::updateRecent(const WorkforceFacts& facts, const QList<CommandBrief>& recentFinished)
{
    const QList<CommandBrief> shown = EmployeeRules::shownFinished(recentFinished, facts);
    const QList<QWidget*> cards = m_recent.reconcile(
        shown, [](const CommandBrief& c) { return c.id; },
        [this](const CommandBrief& c) -> QWidget* { return new RecentCard(c, m_status, m_cfg, this); },
        [&](QWidget* w, const CommandBrief& c) {
            static_cast<RecentCard*>(w)->setContent(c, EmployeeRules::machineNote(c, facts));
        });
    KeyedLayout::place(m_recentList, cards);
    m_noRecent->setVisible(shown.isEmpty());
}

void EmployeeDetailBody::updateDiagnostics(const TeammateBrief& member, const WorkforceFacts& facts)
{
    const QList<QPair<QString, QString>> rows = EmployeeRules::diagnostics(member, facts);
    for (int i = 0; i < m_diagRows.size(); ++i) {
        auto [key, value] = m_diagRows.at(i);
        const bool shown = i < rows.size();
        if (shown) {
            setText(key, rows.at(i).first);
            if (value->text() != rows.at(i).second)
                value->setText(rows.at(i).second);
        }
        key->setVisible(shown);
        value->setVisible(shown);
    }
}
