#pragma once

#include "gui/tasks/FeedItemSheet.h"

#include <QCoroTask>

// "失败的任务": the status model's failed tasks, each put back in the queue
// or, after a confirmation, deleted. Both address the task's command id.
// Window-modal; the host opens it with open() and hides it on finished().
class FailedTasksSheet : public FeedItemSheet {
    Q_OBJECT
public:
    // `cfg`: the selected workspace's configuration, none when nothing is paired
    // (then nothing is sent); an action goes with its item's own configuration, config().
    FailedTasksSheet(Status* status, std::optional<CLIConfig> cfg, Reload reload = {}, QWidget* parent = nullptr);

    void retry(const FeedApprovalItem& item);
    // Asks through Prompts::shared(), then deletes the item with the
    // configuration its list had at the press.
    QCoro::Task<> confirmDelete(FeedApprovalItem item);

private:
    void remove(const Pressed& pressed);

protected:
    QList<FeedApprovalItem> items() const override;
    void addButtons(FeedItemRow* row, const FeedApprovalItem& item) override;
    bool showsOrigin() const override { return false; }
    QColor subtitleColor() const override;
};
