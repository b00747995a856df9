#pragma once

#include "core/design/RuntimeUsability.h"
#include "core/providers/RuntimeSetupInfo.h"
#include "core/runtimes/RuntimeCardActions.h"
#include "core/runtimes/RuntimeRow.h"

#include <QString>

#include <optional>

// The texts of a runtime card that depend on its row alone.
namespace RuntimeCardText {

// The sentence under the card's title, one per usability.
QString sentence(RuntimeUsability usability);

// `home` replaced by "~" wherever it stands as a whole path: followed by a
// slash, the end of the text or a character that cannot continue a file
// name. A home of "/" (or empty) leaves the text alone.
QString shortenHome(const QString& text, const QString& home);

// What "复制诊断信息" puts on the clipboard: the row's diagnostics with
// credentials masked and the home folder shortened.
QString clipboardDiagnostics(const RuntimeRow& row, const QString& home);

// A button's tooltip; empty for buttons without one.
QString help(RuntimeCardActions::Action action, const RuntimeRow& row, const std::optional<RuntimeSetupInfo>& setup);

// The uninstall alert's message.
QString uninstallMessage(const std::optional<RuntimeSetupInfo>& setup);

// A worker that ended by itself right after its start: how (an exit status or
// the signal's number) and its last output line, if any.
QString earlyEnd(const QString& display, int status, bool signalled, const QString& lastLine);

// A running worker the child ledger (at `ledgerPath`) could not record, and why.
QString unrecorded(const QString& ledgerPath, const QString& why);
// The same when another program held the ledger's lock (at `lockPath`) past the wait.
QString unrecordedLockHeld(const QString& ledgerPath, const QString& lockPath);

} // namespace RuntimeCardText
