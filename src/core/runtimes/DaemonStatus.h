#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// The companion tool's `daemon status --json` report on the background agent
// service, and what the application makes of one run of it.
namespace DaemonStatus {

struct Report {
    qint64 schema = 0;
    QString state;
    std::optional<bool> running;
    std::optional<QString> pid;
    std::optional<QString> log;
    std::optional<QString> lastExitCode;
    std::optional<QStringList> legacyLabels;

    bool operator==(const Report&) const = default;

    // The state in words ("正在跑 · pid 4242", …).
    QString display() const;
    // The whole text must be one report (surrounding white space aside).
    static std::optional<Report> decode(const QByteArray& data);
};

// Either the report or a one-line text for the user.
struct Result {
    std::optional<Report> report;
    QString failure;
    // The tool itself could not be found: there was nothing to ask.
    bool toolMissing = false;

    bool ok() const { return report.has_value(); }
};

Result interpret(int exitCode, const QString& output);

// The first non-empty line, trimmed of spaces and tabs; "" when there is none.
QString firstLine(const QString& text);
// The first line of a tool's output as the user reads it: cut to a display
// length, credentials masked.
QString shownLine(const QString& text);

} // namespace DaemonStatus
