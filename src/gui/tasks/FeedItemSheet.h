#pragma once

#include "gui/design/Sheet.h"

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Failure.h"
#include "core/gateway/Records.h"
#include "core/gateway/Status.h"
#include "core/tasks/FeedActions.h"
#include "core/tasks/PermActionState.h"

#include <QCoroTask>
#include <QHash>
#include <QPointer>
#include <QSet>

#include <functional>
#include <optional>

class AimGuard;
class FeedItemRow;
class LazyRows;
class QLabel;
class QScrollArea;
class QVBoxLayout;
class QWidget;

// The layout and action course shared by the approvals and failed-tasks
// sheets: a title, an explanation, the failures of actions on items that have
// left the list since, the rows of the status model's list (or an empty state)
// and a close button. Rows are kept by workspace and feed item id, so a row's
// feedback survives the reload that follows every action and never shows on
// another workspace's item of the same id. A row is made as it comes into
// view, and a poll fills in again only the rows whose item changed.
//
// A press takes the item and the configuration its list was loaded with
// together and carries both through any confirmation; when the request would
// go out, an item no longer listed under that workspace is not sent.
// A row acted on takes no presses until a list read after the action is on
// show (whichever reload reads it; at once after its reload when it failed),
// in this sheet and in any other (FeedActions holds it); a sheet shows the
// outcome only of actions taken in it, so one opened again starts with no
// feedback and shows only which rows are held. A press reaches
// only the row and button that were under the pointer when it was aimed
// (AimGuard): one double click acts on one item. When the list cannot be
// read now, the sheet says so above the rows it last read.
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

    // The feedback of an item of the list shown; idle when no action was taken on it in this sheet.
    PermActionState actionState(const QString& itemId) const;

    // The configuration an action goes with: the one the status model loaded
    // the listed items with, not the selection's, which may have moved on
    // before or after those items came. None when the window has no workspace.
    std::optional<CLIConfig> config() const;
    Status* status() const { return m_status; }
    // The list's column: a row is made as it comes into view.
    LazyRows* rows() const { return m_rows; }

signals:
    // When an action on a feed item has ended, whichever sheet started it:
    // after its reload and, unless it failed, once a list read after it is on
    // show (for tests and the host).
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

    // What a press takes: the item with its latest fields and the
    // configuration its list was loaded with.
    struct Pressed {
        FeedApprovalItem item;
        std::optional<CLIConfig> config;
    };
    Pressed press(const FeedApprovalItem& item) const;
    // The request of an action, given the configuration pressed with.
    using Request = std::function<QCoro::Task<Result<>>(QPointer<Status>, std::optional<CLIConfig>)>;
    // Sends now when the item is still listed under its workspace: working at
    // once, then the request, then ok or failed, then one reload; goes on to
    // its end when the sheet is closed. Otherwise sends nothing and says so.
    void send(const Pressed& pressed, const QString& working, const QString& done, Request request);
    // Records an outcome without a request (nothing is sent, nothing reloaded).
    void setAction(const Pressed& pressed, const PermActionState& state);

    static QString headline(const FeedApprovalItem& item);

    // Builds the rows; subclasses call it at the end of their constructor.
    void rebuild();

private:
    bool stillListed(const Pressed& pressed) const;
    FeedApprovalItem itemOf(const QString& key) const;
    FeedItemRow* makeRow(const QString& key);
    void fillRow(FeedItemRow* row, const QString& key);
    void refreshRow(FeedItemRow* row, const QString& key);
    PermActionState shownState(const QString& key) const;
    void onStateChanged(const QString& key);
    void onFinished(const QString& key);
    // Keeps a failure whose item is no longer listed visible above the list.
    void keepGoneFailure(const QString& key);

    Texts m_texts;
    QPointer<Status> m_status;
    std::optional<CLIConfig> m_cfg;
    Reload m_reload;
    // Kept with the status model: what is held outlives the sheet.
    QPointer<FeedActions> m_actions;
    AimGuard* m_aim = nullptr;
    // The item of every key acted on here (the headline of a failure shown above the list).
    QHash<QString, FeedApprovalItem> m_acted;
    // The last failure of each key, kept for when its item leaves the list.
    QHash<QString, QString> m_failed;
    // The items listed, each one's key, the rows' keys (without repeats)
    // and where each key's item is in the list.
    QList<FeedApprovalItem> m_list;
    QStringList m_keyAt;
    QStringList m_keys;
    QHash<QString, qsizetype> m_at;
    QString m_workspace;
    LazyRows* m_rows = nullptr;
    QLabel* m_unreadable = nullptr;
    QWidget* m_gone = nullptr;
    QVBoxLayout* m_goneList = nullptr;
    QWidget* m_empty = nullptr;
    QScrollArea* m_scroll = nullptr;
};
