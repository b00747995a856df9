#pragma once

#include "core/gateway/Records.h"

#include <QColor>
#include <QDateTime>
#include <QString>

#include <optional>

// What the runtime-state card says about one RuntimeState. Pure: the card
// reads the state once and passes that one value to each function, so every
// line describes the same state.
namespace RuntimeStatePresentation {

// The symbol name of the header icon.
QString stateIcon(const RuntimeState& state);
QColor stateColor(const RuntimeState& state);
// Plain text.
QString stateTitle(const RuntimeState& state);
// "发起于 …", "结束于 …", "心跳 …" or a bare age; none when the state has no
// date, or its date lies after `now`.
std::optional<QString> stateTime(const RuntimeState& state, const QDateTime& now);
// Inline markup (bold marks and code spans); inserted texts included.
QString stateHeadline(const RuntimeState& state);
// The runtime's own words, where the headline replaced them with an explanation.
std::optional<QString> stateEvidence(const RuntimeState& state);
// The command of running, queued, last failed and last done.
std::optional<CommandBrief> stateCommand(const RuntimeState& state);

} // namespace RuntimeStatePresentation
