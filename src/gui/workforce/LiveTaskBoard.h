#pragma once

#include "core/gateway/CLIConfig.h"
#include "gui/design/KeyedReconciler.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class LiveTaskCard;
class PendingCall;
class QLabel;
class QVBoxLayout;
class Status;

// The commands running right now ("claimed"), one card each with its live
// evidence, in the status model's order. Redrawn in place whenever the
// status model publishes: cards are kept by command id, so a card's evidence
// (its fetches, open folds, an open artifact) lives as long as its command
// runs. The commands and the configuration their evidence is fetched with
// both come from the status model, which never holds one workspace's list
// under another's configuration. Identifier "liveboard".
class LiveTaskBoard : public QWidget {
    Q_OBJECT
public:
    explicit LiveTaskBoard(Status* status, QWidget* parent = nullptr);

    // Redraws from the status model now (the model's signals do it on the next turn of the event loop).
    void refresh();

    LiveTaskCard* card(const QString& commandId) const;
    QList<LiveTaskCard*> cards() const;

private:
    void scheduleRefresh();

    QPointer<Status> m_status;
    // The configuration the cards' command list was read with, handed to their
    // evidence; another one starts every card afresh.
    std::optional<CLIConfig> m_cfg;
    QLabel* m_count;
    QLabel* m_empty;
    QVBoxLayout* m_list;
    KeyedReconciler<QString, LiveTaskCard> m_cards;
    PendingCall* m_pending;
};
