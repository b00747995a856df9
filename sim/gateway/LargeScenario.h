#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The benchmark scenario: one workspace "ws-large" (token "large-token") with
// 2,000 commands, 60 employees, 300 feed items and 200 progress lines on the
// running command. Deterministic, so runs compare. Only "danger" is pending,
// which is never confirmed automatically, so every reload asks the same six
// requests.
//
// The scale benchmark grows one dimension at a time from a small shape.
namespace LargeScenario {

struct Shape {
    int commands = 2000;
    // One command in this many runs.
    int runningEvery = 40;
    // Every running command takes a progress step every two seconds.
    bool advance = false;
    int employees = 60;
    int feed = 300;
    // Every feed item is an approval still waiting.
    bool approvalsOnly = false;
    // Further small workspaces "ws-0001" … (token "token-0001" …) beside "ws-large".
    int moreWorkspaces = 0;
    // A blob "one-line" of this many bytes without a line break.
    qint64 oneLineBytes = 0;

    // "commands=10000,advance=1,…" over the defaults; none (and the reason) for a wrong key or value.
    static std::optional<Shape> parse(const QString& text, QString* error);
};

QByteArray generate(const Shape& shape = Shape());

} // namespace LargeScenario
