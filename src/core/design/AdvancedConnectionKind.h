#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The kinds of agent connection a user adds by hand: an Agent Client Protocol
// agent, a Model Context Protocol server, or any other command-line agent. The
// companion tool reports runtimes of these kinds too; they are not cards.
enum class AdvancedConnectionKind {
    acp,
    mcp,
    generic,
};

namespace AdvancedConnectionKinds {

// "acp", "mcp", "generic".
QString rawValue(AdvancedConnectionKind kind);
std::optional<AdvancedConnectionKind> fromRawValue(const QString& raw);
// Whether a runtime kind is one of the three words.
bool isAdvanced(const QString& runtimeKind);

} // namespace AdvancedConnectionKinds
