#pragma once

#include "core/gateway/Records.h"
#include "core/runtimes/RuntimeRow.h"
#include "core/tasks/PermActionState.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// What the permission list shows for each tier, and which buttons it offers. Pure.
namespace PermPresentation {

QString stateIcon(PermState state);
QColor stateColor(PermState state);
// "已授权", "等你确认", "未授权".
QString stateWord(PermState state);
// Inline markup; empty when the tier has nothing to explain. `autoFailed`:
// the tier's automatic confirmation failed, so a pending tier now waits for
// the user's "批准" instead of confirming itself.
QString permExplain(PermState state, const QString& key, bool autoFailed = false);
// "本次已用到", "本次没看到", "进度不表达", "无从判断".
QString usageLabel(const PermUse& use);

// The warning that the installed runtimes cannot enforce a tier (read, write
// and exec only); none when every installed runtime can. `rows` are the plain rows.
std::optional<QString> unenforceableNote(const QString& key, const QList<RuntimeRow>& rows);

// One button of a tier.
struct PermButton {
    enum class Style { Primary, Secondary, Danger };
    enum class Action {
        Approve, // confirm through the gateway
        ApproveDanger, // the same, after a confirmation
        Revoke, // take a granted tier back
        Reject, // turn a pending tier down
        GrantDanger, // declare the tier on this machine with the companion tool, after a confirmation
    };
    Style style;
    QString title;
    Action action;

    bool operator==(const PermButton&) const = default;
};

struct PermButtons {
    // "自动生效中…" before the buttons: the status model confirms the tier itself.
    bool autoNote = false;
    QList<PermButton> buttons;

    bool operator==(const PermButtons&) const = default;
};

QString autoNoteText();
// The buttons of a tier. `autoFailed`: the status model's automatic
// confirmation of this tier failed; it is not tried again while the tier stays
// pending, so the tier offers "批准" instead of waiting.
PermButtons permButtons(const PermRow& row, bool autoFailed);

// The feedback line of a tier: the user's last action on it, or, while there
// is none, how its automatic confirmation went (a failure recorded after a
// success is the newer event, so it wins).
PermActionState rowFeedback(const PermActionState& action, const std::optional<QDateTime>& autoConfirmed,
    const std::optional<QString>& autoFailed);

} // namespace PermPresentation
