#pragma once

#include "gui/tasks/FeedItemSheet.h"

// "需要你批准": the status model's pending approvals, each approved ("continue")
// or rejected ("ignore") through the same gateway endpoint the phone uses.
// Window-modal; the host opens it with open() and hides it on finished().
class ApprovalsSheet : public FeedItemSheet {
    Q_OBJECT
public:
    // `cfg`: the selected workspace's configuration, none when nothing is paired
    // (then nothing is sent); an action goes with its item's own configuration, config().
    ApprovalsSheet(Status* status, std::optional<CLIConfig> cfg, Reload reload = {}, QWidget* parent = nullptr);

    void respond(const FeedApprovalItem& item, bool approve);

protected:
    QList<FeedApprovalItem> items() const override;
    void addButtons(FeedItemRow* row, const FeedApprovalItem& item) override;
    bool showsOrigin() const override { return true; }
    QColor subtitleColor() const override;
};
