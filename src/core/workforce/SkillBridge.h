#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/workforce/EmployeeSkillView.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>
#include <variant>

class ProcessGroup;

// Asks the companion tool for an employee's skill contract.
namespace SkillBridge {

struct LoadError {
    QString detail;
    bool operator==(const LoadError&) const = default;
};
using Result = std::variant<EmployeeSkillView, LoadError>;

QStringList arguments(const QString& role);

// What a finished run means: a non-zero exit is its first non-empty output
// line; otherwise the contract decoded from the first "{" to the end.
Result interpret(int exitCode, const QString& output);

// Runs `employee evidence <role> --json` and waits for it: blocking, never
// on the GUI thread. Every failure is a LoadError with its text. `group` lets
// the caller cancel the run (CLI::run).
Result load(const QString& role, const std::optional<CLIConfig>& config,
    std::chrono::milliseconds timeLimit = std::chrono::seconds(60), std::shared_ptr<ProcessGroup> group = {});

// The first non-empty line, unchanged, or "CLI 没有说明原因".
QString firstLine(const QString& text);

} // namespace SkillBridge
