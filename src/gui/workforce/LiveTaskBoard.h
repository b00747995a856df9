#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Records.h"

#include <QDateTime>
#include <QHash>
#include <QPointer>
#include <QWidget>

#include <optional>

class AimGuard;
class LazyRows;
class LiveTaskCard;
class PendingCall;
class QLabel;
class QTimer;
class Status;
class TaskEvidenceModel;

// The commands running right now ("claimed"), one card each with its live
// evidence, in the status model's order. Redrawn in place whenever the
// status model publishes. Every running command's evidence is fetched while
// the board shows, kept by command id for as long as the command runs (made
// a few milliseconds a turn after its command arrived, or with its card); its
// card is made as it comes into view of the page (or the keyboard reaches
// it) and then kept, with its open folds and an open artifact, the same way.
// The commands and the configuration their evidence is fetched with both
// come from the status model, which never holds one workspace's list under
// another's configuration. A command list that could not be read leaves the
// cards and their evidence as the last one read left them. Identifier
// "liveboard".
class LiveTaskBoard : public QWidget {
    Q_OBJECT
public:
    explicit LiveTaskBoard(Status* status, QWidget* parent = nullptr);

    // Redraws from the status model now (the model's signals do it on the next turn of the event loop).
    void refresh();

    // A running command's card, once made.
    LiveTaskCard* card(const QString& commandId) const;
    // The cards made, in the board's order.
    QList<LiveTaskCard*> cards() const;
    // A running command's evidence, made or not its card; none until it is
    // made, in the turns after its command arrived.
    TaskEvidenceModel* evidence(const QString& commandId) const;
    LazyRows* rows() const { return m_rows; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    static constexpr int kMakeBudgetMs = 4;

    void scheduleRefresh();
    void setActive(bool active);
    // The evidence of a running command, made now when it is not yet.
    TaskEvidenceModel* made(const QString& commandId);
    // Makes the evidence not made yet, for a few milliseconds, then again on the next turn.
    void makeSome();
    // Guards the presses on the controls of the card of `commandId`.
    void watchControls(QWidget* card, const QString& commandId);

    QPointer<Status> m_status;
    // The configuration the cards' command list was read with, handed to their
    // evidence; another one starts every card afresh.
    std::optional<CLIConfig> m_cfg;
    QLabel* m_count;
    QLabel* m_empty;
    AimGuard* m_aim;
    LazyRows* m_rows;
    // The running commands of the last command list read with m_cfg.
    QList<CommandBrief> m_lastRead;
    // What the cards show, as of the last redraw.
    QHash<QString, CommandBrief> m_running;
    QList<TeammateBrief> m_team;
    QDateTime m_now;
    // By command id; none while not made yet.
    QHash<QString, TaskEvidenceModel*> m_evidence;
    // The board's order, and how far the making of evidence has come in it.
    QStringList m_order;
    qsizetype m_nextToMake = 0;
    // Whether each command's card holds a keyboard stop, as last known.
    QHash<QString, bool> m_stops;
    bool m_active = false;
    PendingCall* m_pending;
    QTimer* m_makeSoon;
};
