#pragma once

#include "workforce/EmployeeSkillView.h"

#include <QString>
#include <QStringList>

#include <variant>

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

// The first non-empty line, unchanged, or "CLI 没有说明原因".
QString firstLine(const QString& text);

} // namespace SkillBridge
