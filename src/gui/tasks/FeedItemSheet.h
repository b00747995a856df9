#pragma once

#include "gui/design/Sheet.h"

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Failure.h"
#include "core/gateway/Records.h"
#include "core/gateway/Status.h"
#include "core/tasks/ActionRunner.h"
#include "core/tasks/PermActionState.h"
#include "gui/design/KeyedReconciler.h"

#include <QCoroTask>
#include <QPointer>

#include <functional>
#include <optional>

class FeedItemRow;
class QScrollArea;
class QVBoxLayout;
class QWidget;

// The layout and action course shared by the approvals and failed-tasks
// sheets: a title, an explanation, the rows of the status model's list (or an
// empty state) and a close button. Rows are kept by feed item id, so a row's
// feedback survives the reload that follows every action.
class FeedItemSheet : public Sheet {
    Q_OBJECT
public:
    struct Texts {
        QString prefix; // "approvals" or "failedtasks": the identifiers' first word
        QString title;
        QString explanation;
        QString emptyMessage;
    };

    // The reload that follows every action; by default the status model's
    // reload of the workspace it shows now (never the one the sheet opened on,
    // when the user has switched since).
    using Reload = std::function<QCoro::Task<>()>;

    // The feedback of an item; idle when no action was taken on it here.
    PermActionState actionState(const QString& itemId) const { return m_runner->state(itemId); }
    // The configuration an action goes with: the one the status model loaded
    // the listed items with, not the selection's, which may have moved on
    // before or after those items came. None when the window has no workspace.
    std::optional<CLIConfig> config() const;
    Status* status() const { return m_status; }

signals:
    // After the reload that follows an action (for tests and the host).
    void actionFinished(const QString& itemId);

protected:
    FeedItemSheet(Texts texts, Status* status, std::optional<CLIConfig> cfg, Reload reload, QWidget* parent);

    // The status model's list this sheet shows.
    virtual QList<FeedApprovalItem> items() const = 0;
    // Fills a new row's button row.
    virtual void addButtons(FeedItemRow* row, const FeedApprovalItem& item) = 0;
    // The row's subtitle colour and whether it shows the origin device.
    virtual bool showsOrigin() const = 0;
    virtual QColor subtitleColor() const = 0;

    // Working at once, then the request, then ok or failed, then one reload. Goes on to its end when the sheet is
    // closed.
    void runAction(
        const FeedApprovalItem& item, const QString& working, const QString& done, ActionRunnerBase::Operation request);
    // Records an outcome without a request (nothing is sent, nothing reloaded).
    void setAction(const QString& itemId, const PermActionState& state);

    static QString headline(const FeedApprovalItem& item);
    // The item as the sheet shows it now (its latest fields).
    std::optional<FeedApprovalItem> currentItem(const QString& itemId) const;

    // Builds the rows; subclasses call it at the end of their constructor.
    void rebuild();
    // The list takes its content's height, at most 420, before the sheet fits.
    void refit() override;

private:
    void refreshRow(FeedItemRow* row, const FeedApprovalItem& item);

    Texts m_texts;
    QPointer<Status> m_status;
    std::optional<CLIConfig> m_cfg;
    // By feed item id.
    ActionRunner<QString>* m_runner = nullptr;
    KeyedReconciler<QString, FeedItemRow> m_rows;
    QWidget* m_empty = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_listBody = nullptr;
    QVBoxLayout* m_list = nullptr;
};
