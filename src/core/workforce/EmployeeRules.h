#pragma once

#include "core/gateway/Records.h"
#include "core/workforce/WorkforceFacts.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// What an employee's card and detail pane say, decided from the roster entry
// and the facts alone (no widgets), so the views only draw it.
namespace EmployeeRules {

// A line with a leading symbol, in one colour for both.
struct SymbolLine {
    QString symbol;
    QString text;
    QColor colour;
    bool operator==(const SymbolLine&) const = default;
};

// --- the card ----------------------------------------------------------------

// The sentence of the last finished command: a prefix by its status word and
// verdict, for the employee's own work or, `shared`, for its machine's.
QString recentLine(const CommandBrief& command, bool shared);

struct CardWork {
    // What runs: the machine's line wins over the running commands.
    std::optional<SymbolLine> machineLine;
    QList<CommandBrief> running; // at most three
    qsizetype runningBeyond = 0; // running commands not listed
    std::optional<SymbolLine> awaitingApproval; // its work waits for the user's approval
    std::optional<SymbolLine> waiting; // waiting for a dependency
    std::optional<SymbolLine> failedUpstream; // dependency failed
    enum class State { none, noMachine, neverWorked, lastFinished };
    State state = State::none;
    std::optional<SymbolLine> lastFinished; // State::lastFinished
    bool sharedNote = false;
};
CardWork cardWork(const TeammateBrief& member, const WorkforceFacts& facts);

// "还有 N 条正在跑（详情里全列）"
QString runningBeyondText(qsizetype count);
// "等你批准：" and the first command's text, with how many wait when more than one do.
QString awaitingApprovalText(const QList<CommandBrief>& waiting);

// The runtime chip of a card or a pane's header: the runtime of a known
// attribution, "上一趟 " + that of a last-known one; none for the others.
std::optional<QString> runtimeChip(const RuntimeAttribution& runtime);

// --- the detail pane -----------------------------------------------------------

enum class CurrentWork { noMachine, running, machineLine, blocked, awaitingApproval, idle };
CurrentWork currentWork(const TeammateBrief& member, const WorkforceFacts& facts);

struct Attention {
    bool offline = false;
    // The employee's own work waits for a runtime its machine lacks.
    bool runtimeUnavailable = false;
    QList<CommandBrief> dependencyFailed;
    bool present() const { return offline || runtimeUnavailable || !dependencyFailed.isEmpty(); }
};
Attention needsAttention(const WorkforceFacts& facts);

// The recent-work cards: the first three finished commands given, else the
// last finished one of the facts, else none.
QList<CommandBrief> shownFinished(const QList<CommandBrief>& recentFinished, const WorkforceFacts& facts);
// A recent card says the work was the machine's only when it was: the
// machine is shared and the command names no employee.
bool machineNote(const CommandBrief& command, const WorkforceFacts& facts);

// The diagnostics rows, key and value, in order.
QList<QPair<QString, QString>> diagnostics(const TeammateBrief& member, const WorkforceFacts& facts);

// Local "HH:mm", or "—" without a time.
QString hhmm(const std::optional<QDateTime>& time);
// The first `n` lines (split at each line feed, empty ones kept) and "…" when
// there were more; the text itself otherwise.
QString firstLines(const QString& text, int n);

} // namespace EmployeeRules
