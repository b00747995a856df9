#include "gui/tasks/FailedTasksSheet.h"

#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "gui/design/DangerButton.h"
#include "gui/design/SecondaryButton.h"
#include "gui/platform/Prompts.h"
#include "gui/tasks/FeedItemRow.h"

namespace {

// A failed item the gateway sent without its task's command id cannot be
// addressed: sending it would hit "/commands//retry".
QString noTaskText(const QString& verb)
{
    return QStringLiteral("这条记录没有带任务编号，没法") + verb + QStringLiteral("；什么都没有发给网关。");
}

} // namespace

FailedTasksSheet::FailedTasksSheet(Status* status, std::optional<CLIConfig> cfg, Reload reload, QWidget* parent)
    : FeedItemSheet(
        Texts {
            QStringLiteral("failedtasks"),
            QStringLiteral("失败的任务"),
            QStringLiteral("这些不是等你「批准」的——是跑失败了，等你决定重来还是不要了。"),
            QStringLiteral("没有失败的任务在等你处理。"),
        },
        status, std::move(cfg), std::move(reload), parent)
{
    rebuild();
}

QList<FeedApprovalItem> FailedTasksSheet::items() const
{
    return status() ? status()->failedFeedItems() : QList<FeedApprovalItem> {};
}

QColor FailedTasksSheet::subtitleColor() const
{
    return DS::failureRed();
}

void FailedTasksSheet::addButtons(FeedItemRow* row, const FeedApprovalItem& item)
{
    row->addButton(new SecondaryButton(
        QStringLiteral("重试"), QStringLiteral("failedtasks.retry.") + item.id, [this, item] { retry(item); }));
    row->addButton(new DangerButton(QStringLiteral("删除"), QStringLiteral("failedtasks.delete.") + item.id,
        [this, item] { confirmDelete(item); }));
}

void FailedTasksSheet::retry(const FeedApprovalItem& item)
{
    const Pressed pressed = press(item);
    if (pressed.item.taskID.isEmpty()) {
        setAction(pressed, PermActionState::failed(noTaskText(QStringLiteral("重试"))));
        return;
    }
    send(pressed, QStringLiteral("重试中…"), QStringLiteral("已放回队列"),
        [taskId = pressed.item.taskID](QPointer<Status> model, std::optional<CLIConfig> cfg) {
            return model->retryCommand(taskId, std::move(cfg));
        });
}

QCoro::Task<> FailedTasksSheet::confirmDelete(FeedApprovalItem item)
{
    // The item and its list's configuration are taken now, not after the question.
    const Pressed pressed = press(item);
    // Nothing to confirm when nothing could be deleted.
    if (pressed.item.taskID.isEmpty()) {
        setAction(pressed, PermActionState::failed(noTaskText(QStringLiteral("删除"))));
        co_return;
    }
    QPointer<FailedTasksSheet> self(this);
    Prompts::Alert alert;
    alert.message = QStringLiteral("确定要删除这条失败的任务？");
    alert.informative = headline(pressed.item) + QStringLiteral("\n删掉之后这条记录和它的失败原因都找不回来了。");
    alert.buttons = QStringList { QStringLiteral("删除"), QStringLiteral("算了") };
    alert.style = Prompts::Style::Warning;
    auto ask = Prompts::confirm(this, alert);
    const bool confirmed = co_await std::move(ask);
    if (self && confirmed)
        self->remove(pressed);
}

void FailedTasksSheet::remove(const Pressed& pressed)
{
    send(pressed, QStringLiteral("删除中…"), QStringLiteral("已删除"),
        [taskId = pressed.item.taskID](QPointer<Status> model, std::optional<CLIConfig> cfg) {
            return model->deleteCommand(taskId, std::move(cfg));
        });
}
