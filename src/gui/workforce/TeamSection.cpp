#include "gui/workforce/TeamSection.h"

#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "core/shell/WindowController.h"
#include "core/workforce/SkillRoleKey.h"
#include "core/workforce/WorkforceModel.h"
#include "core/workspaces/WorkspaceCatalog.h"
#include "gui/design/AdaptiveColumns.h"
#include "gui/design/AimGuard.h"
#include "gui/design/Card.h"
#include "gui/design/EmptyState.h"
#include "gui/design/ErrorBanner.h"
#include "gui/design/ScrollIntoView.h"
#include "gui/design/SecondaryButton.h"
#include "gui/design/SectionHeader.h"
#include "gui/design/SkeletonCards.h"
#include "gui/workforce/EmployeeCard.h"
#include "gui/workforce/EmployeeDetailBody.h"
#include "gui/workforce/LiveTaskBoard.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// Without the command list every card would read as idle and untried.
const QString kCommandsUnread = QStringLiteral("读不到这个工作区的任务，下面的“空闲”“没跑过”不作数。");
} // namespace

TeamSection::TeamSection(WindowController* controller, QWidget* parent)
    : QWidget(parent)
    , m_controller(controller)
{
    setObjectName(QStringLiteral("team.section"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    stack->addWidget(new SectionHeader(QStringLiteral("AI 团队"), QString(), nullptr, this));

    m_error = new ErrorBanner(QStringLiteral("读不到这个工作区的团队。读不到，不等于一个人都没有。"), std::nullopt,
        QStringLiteral("team.error"), this);
    stack->addWidget(m_error);
    m_commandsError = new ErrorBanner(kCommandsUnread, std::nullopt, QStringLiteral("team.commands.error"), this);
    stack->addWidget(m_commandsError);
    m_empty = new EmptyState(EmptyState::Kind::emptyButHealthy,
        QStringLiteral("这个工作区里还没有 AI 同事。在手机上的「我的 AI 团队」里雇一个。"), std::nullopt, this);
    stack->addWidget(m_empty);
    // Until the roster is read, a team not yet known is not an empty one.
    m_loading = new SkeletonCards(4, this);
    m_loading->setAccessibleName(QStringLiteral("正在读这个工作区的 AI 团队"));
    stack->addWidget(m_loading);

    m_board = new LiveTaskBoard(controller->status(), this);
    stack->addWidget(m_board);
    m_grid = new AdaptiveColumns(340, 10, this);
    // Hundreds of employees: only the cards in view of the page are made and laid out.
    // A poll that takes an employee away slides the next card into its place:
    // a press there that cannot have been aimed at it is held.
    m_aim = new AimGuard(m_grid);
    m_grid->makeInView(
        [this](const QString& id) -> QWidget* {
            auto* card = new EmployeeCard(id, [c = QPointer<WindowController>(m_controller), id] {
                if (c)
                    c->toggleEmployee(id);
            });
            m_aim->watch(card->openButton(), id);
            return card;
        },
        [this](QWidget* card, const QString& id) {
            const WorkforceSnapshot& s = m_controller->workforce()->snapshot();
            const TeammateBrief t = m_members.value(id);
            const bool here = !t.device.isEmpty() && t.device == s.thisMachine;
            static_cast<EmployeeCard*>(card)->setContent(
                t, s.facts(t.id), here, m_controller->selectedEmployee() == t.id);
        });
    stack->addWidget(m_grid);
    m_detailSlot = new QVBoxLayout;
    m_detailSlot->setSpacing(0);
    stack->addLayout(m_detailSlot);

    connect(controller->workforce(), &WorkforceModel::changed, this, &TeamSection::refresh);
    connect(controller, &WindowController::selectedEmployeeChanged, this, [this] {
        m_revealDetail = m_controller->selectedEmployee().has_value();
        refresh();
    });
    connect(controller->catalog(), &WorkspaceCatalog::selectionChanged, this, &TeamSection::refresh);
    connect(controller->catalog(), &WorkspaceCatalog::recordsChanged, this, &TeamSection::refresh);
    refresh();
}

void TeamSection::setContentWidth(qreal width)
{
    m_grid->setContentWidth(width);
}

EmployeeCard* TeamSection::card(const QString& employeeID) const
{
    return static_cast<EmployeeCard*>(m_grid->cell(employeeID));
}

QList<EmployeeCard*> TeamSection::cards() const
{
    QList<EmployeeCard*> out;
    for (QWidget* cell : m_grid->cells())
        out.append(static_cast<EmployeeCard*>(cell));
    return out;
}

Card* TeamSection::detailCard() const
{
    const QList<Card*> open = m_detail.widgets();
    return open.isEmpty() ? nullptr : open.first();
}

EmployeeDetailBody* TeamSection::detail() const
{
    Card* card = detailCard();
    return card ? card->findChild<EmployeeDetailBody*>() : nullptr;
}

void TeamSection::refresh()
{
    WindowController* controller = m_controller;
    const WorkforceSnapshot& s = controller->workforce()->snapshot();
    // The roster and commands shown were read with the status model's
    // configuration (never the selection's, which moves first at a switch):
    // the detail's evidence is fetched with it.
    const std::optional<CLIConfig> cfg = controller->status()->config();

    const bool unreadable = s.teamError.has_value();
    if (unreadable)
        m_error->setContent(m_error->textLabel()->text(), s.teamError);
    m_error->setVisible(unreadable);
    const bool loading = !unreadable && s.team.isEmpty() && !s.teamLoaded;
    m_loading->setVisible(loading);
    const bool empty = !unreadable && s.team.isEmpty() && !loading;
    m_empty->setVisible(empty);
    const bool roster = !unreadable && !empty && !loading;

    m_board->setVisible(roster && !s.commandsError);
    if (roster && s.commandsError)
        m_commandsError->setContent(kCommandsUnread, s.commandsError);
    m_commandsError->setVisible(roster && s.commandsError.has_value());

    const std::optional<QString> open = controller->selectedEmployee();
    // The roster in order, a repeated id keeping its first place.
    QStringList ids;
    m_members.clear();
    if (roster) {
        for (const TeammateBrief& t : s.team) {
            if (m_members.contains(t.id))
                continue;
            m_members.insert(t.id, t);
            ids.append(t.id);
        }
    }
    m_aim->aboutToChange();
    m_grid->setKeys(ids);
    m_grid->setVisible(roster);

    // The open employee's detail: the first teammate with the stored id.
    QList<TeammateBrief> shown;
    if (roster && open) {
        for (const TeammateBrief& t : s.team) {
            if (t.id == *open) {
                shown.append(t);
                break;
            }
        }
    }
    // Evidence fetched for one workspace is not another's: a new
    // configuration opens the pane afresh.
    if (cfg != m_detailCfg) {
        m_detail.reconcile(
            QList<TeammateBrief> {}, [](const TeammateBrief& t) { return t.id; },
            [](const TeammateBrief&) { return static_cast<Card*>(nullptr); }, [](Card*, const TeammateBrief&) {});
        m_detailCfg = cfg;
    }
    Status* status = controller->status();
    const QList<Card*> detail = m_detail.reconcile(
        shown, [](const TeammateBrief& t) { return t.id; },
        [&](const TeammateBrief& t) {
            auto* card = new Card(DS::cyan(), false, this);
            card->setObjectName(QStringLiteral("team.detail.") + t.id);
            card->contentLayout()->setContentsMargins(0, 0, 0, 0);
            card->contentLayout()->addWidget(new EmployeeDetailBody(t.id, status, cfg, card));
            return card;
        },
        [&](Card* card, const TeammateBrief& t) {
            card->findChild<EmployeeDetailBody*>()->setContent(t, s.facts(t.id), s.thisMachine, s.recentFinished(t.id),
                skillRoleKey(t.templateKey).value_or(QString()));
        });
    KeyedLayout::place(m_detailSlot, detail);
    if (m_revealDetail && !detail.isEmpty()) {
        m_revealDetail = false;
        // Once the page has laid it out.
        QTimer::singleShot(0, detail.first(), [card = detail.first()] { ScrollIntoView::reveal(card); });
    }
}
