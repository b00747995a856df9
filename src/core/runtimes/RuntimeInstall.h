#pragma once

#include "core/providers/RuntimeSetupInfo.h"

#include <QStringList>

#include <optional>

// Install, uninstall and reinstall argument vectors from a runtime's setup
// contract, for the package manager the contract names.
namespace RuntimeInstall {

std::optional<QStringList> command(const RuntimeSetupInfo& setup);
std::optional<QStringList> uninstallCommand(const RuntimeSetupInfo& setup);
// "sh", "-lc", "<uninstall> && <install>", each word shell-quoted when it needs it.
std::optional<QStringList> reinstallCommand(const RuntimeSetupInfo& setup);

// The word unchanged when it holds only characters a shell leaves alone,
// else in single quotes.
QString quoteIfNeeded(const QString& word);

} // namespace RuntimeInstall
