#include "gui/tasks/PermSection.h"

#include "core/gateway/Status.h"
#include "core/platform/PendingCall.h"
#include "core/runtimes/RuntimeInventoryStore.h"
#include "core/runtimes/RuntimeSectionValues.h"
#include "core/tasks/PermActions.h"
#include "gui/design/SectionHeader.h"
#include "gui/platform/Prompts.h"
#include "gui/tasks/PermList.h"
#include "gui/tasks/RunnersCard.h"
#include "gui/tasks/RuntimeStateCard.h"
#include "gui/tasks/TasksCard.h"

#include <QVBoxLayout>

PermSection::PermSection(
    Status* status, RuntimeInventoryStore* inventory, std::function<QCoro::Task<>()> reload, QWidget* parent)
    : QWidget(parent)
    , m_status(status)
    , m_inventory(inventory)
    , m_actions(new PermActions(status, std::move(reload), this))
{
    setObjectName(QStringLiteral("perm.section"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(12);
    stack->addWidget(new SectionHeader(QStringLiteral("当前工作区的 Runtime 与权限"), QString(), nullptr, this));
    m_runtime = new RuntimeStateCard(this);
    stack->addWidget(m_runtime);
    m_runners = new RunnersCard(this);
    stack->addWidget(m_runners);
    m_tasks = new TasksCard(this);
    stack->addWidget(m_tasks);
    m_perms = new PermList(this);
    stack->addWidget(m_perms);

    m_refresh = new PendingCall(this, [this] { refresh(); });
    if (m_status)
        connect(m_status, &Status::changed, this, &PermSection::scheduleRefresh);
    if (m_inventory)
        connect(m_inventory, &RuntimeInventoryStore::changed, this, &PermSection::scheduleRefresh);
    // An action's feedback shows at once.
    connect(m_actions, &PermActions::stateChanged, this, &PermSection::refreshPerms);
    connect(m_actions, &PermActions::finished, this, [this](const QString&, const QString& key) {
        // The row takes presses again now that a list read after the action is on show.
        refreshPerms();
        emit actionFinished(key);
    });
    connect(m_perms, &PermList::actionRequested, this, &PermSection::onAction);
    refresh();
}

void PermSection::scheduleRefresh()
{
    m_refresh->request();
}

void PermSection::refresh()
{
    m_refresh->cancel();
    if (!m_status)
        return;
    const Status& s = *m_status;
    const bool failed = s.commandsError().has_value();
    m_runtime->setContent(
        { s.runtimeState(), QDateTime::currentDateTime(), s.progress(), s.progressError(), s.progressTruncated() });
    m_runners->setContent({ s.runners(), s.config(), s.commands(), failed });
    m_tasks->setContent(s.commands(), failed);
    refreshPerms();
}

void PermSection::refreshPerms()
{
    if (!m_status)
        return;
    const Status& s = *m_status;
    PermList::Content c;
    c.perms = s.perms();
    c.permsError = s.permsError();
    c.autoConfirmed = s.autoConfirmed();
    c.autoFailed = s.autoFailed();
    for (const PermRow& row : s.perms())
        c.usage.insert(row.key, s.usage(row.key));
    if (m_inventory)
        c.runtimes = RuntimeSectionValues::plainRuntimeRows(m_inventory->rows());
    // The rows show the feedback of the workspace their list was read from,
    // never another's, and a press on them acts with its configuration.
    m_drawnFor = s.perms().isEmpty() ? std::nullopt : s.config();
    QPointer<PermActions> actions = m_actions;
    const QString workspace = m_drawnFor ? Status::workspaceKey(*m_drawnFor) : QString();
    c.action = [actions, workspace](
                   const QString& key) { return actions ? actions->state(workspace, key) : PermActionState::idle(); };
    c.busy = [actions, workspace](const QString& key) { return actions && actions->busy(workspace, key); };
    m_perms->setContent(c);
}

void PermSection::onAction(const PermRow& row, PermPresentation::PermButton::Action action)
{
    using A = PermPresentation::PermButton::Action;
    QPointer<PermActions> actions = m_actions;
    // The tier and the configuration its row was drawn with go together from
    // the press, also through a confirmation.
    if (!m_drawnFor)
        return;
    const CLIConfig config = *m_drawnFor;
    const QString key = row.key;
    switch (action) {
    case A::Approve:
        m_actions->approve(config, key);
        break;
    case A::Revoke:
        m_actions->revoke(config, key, QStringLiteral("收回"));
        break;
    case A::Reject:
        m_actions->revoke(config, key, QStringLiteral("拒绝"));
        break;
    case A::ApproveDanger:
        confirmThen(QStringLiteral("确定要让 danger（删除 / 迁移数据）生效？"),
            QStringLiteral("不可逆。生效之后，手机上一句话就能触发删库 / 迁数据，不会再问你。"),
            QStringLiteral("我确认，生效"), [actions, config, key] {
                if (actions)
                    actions->approve(config, key);
            });
        break;
    case A::GrantDanger:
        confirmThen(QStringLiteral("确定要开 danger（删除 / 迁移数据）？"),
            QStringLiteral("这一档的后果不可逆。开了之后，手机上一句话就能触发删库 / 迁数据，不会再问你。"),
            QStringLiteral("我确认，开"), [actions, config, key] {
                if (actions)
                    actions->grant(config, key);
            });
        break;
    }
}

QCoro::Task<> PermSection::confirmThen(QString message, QString informative, QString confirm, std::function<void()> act)
{
    QPointer<PermSection> self(this);
    Prompts::Alert alert;
    alert.message = message;
    alert.informative = informative;
    alert.buttons = QStringList { confirm, QStringLiteral("算了") };
    alert.style = Prompts::Style::Critical;
    auto ask = Prompts::confirm(this, alert);
    const bool confirmed = co_await std::move(ask);
    if (!self || !confirmed)
        co_return;
    act();
}
