#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/tasks/ActionRunner.h"
#include "core/tasks/PermActionState.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class Status;

// The actions on the feed's items and what is held for each item of each
// workspace: busy from the press until a list read after the action is on
// show, and the feedback of the last action while the item is listed. One per
// status model, beside the lists: both sheets, and a sheet closed and opened
// again, show an item acted on as it is and offer it no second action. An
// action runs to its end, with its reload, whatever becomes of the view that
// started it.
class FeedActions : public QObject {
    Q_OBJECT
public:
    // The status model's own, made on first use; it goes with the model.
    static FeedActions* of(Status* status);

    // Items are kept by workspace and feed item id: the same id under another
    // workspace is another item.
    static QString keyOf(const std::optional<CLIConfig>& config, const QString& itemId);
    static QString itemOf(const QString& key);

    // Idle for an item nothing was done to, or that has left the list since.
    PermActionState state(const QString& key) const { return m_runner->state(key); }
    bool busy(const QString& key) const { return m_runner->busy(key); }
    // Working at once; then the request, its outcome and `reload`.
    void run(const QString& key, const QString& working, const QString& done, ActionRunnerBase::Operation operation,
        ActionRunnerBase::Reload reload);
    // Records an outcome without a request (nothing is sent, nothing reloaded).
    void set(const QString& key, const PermActionState& state) { m_runner->set(key, state); }

signals:
    void stateChanged(const QString& key);
    // After the action's reload and, unless it failed, once a list read after it is on show.
    void finished(const QString& key);

private:
    explicit FeedActions(Status* status);
    bool listed(const QString& key) const;
    // An item the gateway no longer reports takes its feedback with it, once nothing is held for it.
    void forgetUnlisted();

    QPointer<Status> m_status;
    ActionRunner<QString>* m_runner = nullptr;
};
