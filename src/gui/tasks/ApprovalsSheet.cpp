#include "gui/tasks/ApprovalsSheet.h"

#include "core/design/DS.h"
#include "core/gateway/Status.h"
#include "gui/design/DangerButton.h"
#include "gui/design/PrimaryButton.h"
#include "gui/tasks/FeedItemRow.h"

ApprovalsSheet::ApprovalsSheet(Status* status, std::optional<CLIConfig> cfg, Reload reload, QWidget* parent)
    : FeedItemSheet(
        Texts {
            QStringLiteral("approvals"),
            QStringLiteral("需要你批准"),
            QStringLiteral("Approve 让它继续；Reject 放弃这一步。和手机上是同一条接口，两边看到的会是同一个结果。"),
            QStringLiteral("都批完了 —— 没有等你点头的了。"),
        },
        status, std::move(cfg), std::move(reload), parent)
{
    rebuild();
}

QList<FeedApprovalItem> ApprovalsSheet::items() const
{
    return status() ? status()->pendingApprovalItems() : QList<FeedApprovalItem> {};
}

QColor ApprovalsSheet::subtitleColor() const
{
    return DS::muted(0.6);
}

void ApprovalsSheet::addButtons(FeedItemRow* row, const FeedApprovalItem& item)
{
    row->addButton(new PrimaryButton(QStringLiteral("批准"), false, false,
        QStringLiteral("approvals.approve.") + item.id, [this, item] { respond(item, true); }));
    row->addButton(new DangerButton(
        QStringLiteral("拒绝"), QStringLiteral("approvals.reject.") + item.id, [this, item] { respond(item, false); }));
}

void ApprovalsSheet::respond(const FeedApprovalItem& item, bool approve)
{
    const QString action = approve ? QStringLiteral("continue") : QStringLiteral("ignore");
    const Pressed pressed = press(item);
    send(pressed, approve ? QStringLiteral("批准中…") : QStringLiteral("拒绝中…"),
        approve ? QStringLiteral("已批准") : QStringLiteral("已拒绝"),
        [feedId = pressed.item.id, action](QPointer<Status> model, std::optional<CLIConfig> cfg) {
            return model->act(feedId, action, QString(), std::move(cfg));
        });
}
