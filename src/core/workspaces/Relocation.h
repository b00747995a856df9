#pragma once

#include <QString>
#include <QStringList>

#include <QCoroTask>

#include <chrono>

class QObject;

// The companion tool's workspace relocation: a dry-run discovery of where a
// moved workspace folder went, and the re-binding to a chosen folder.
namespace Relocation {

// One answer of the tool. `ok` false with `error` on every failure.
struct Discovery {
    bool ok = false;
    QString path;
    QStringList candidates;
    QString error;
    bool operator==(const Discovery&) const = default;
};

// Shown when the tool printed nothing (or could not be run at all).
QString silentToolText();

QStringList discoverArguments(const QString& workspace);
QStringList applyArguments(const QString& workspace, const QString& folder);

// Reads the answer out of the tool's combined output: the last non-empty
// line that contains the quoted key "ok" is the answer; anything else fails
// with the whole output (or the silent-tool text) as the error.
Discovery parse(const QString& output);

// A dry run: where the workspace's folder went. Never fails as such; the
// tool runs off the GUI thread with a time limit, and every failure is a
// Discovery with `ok` false and a text in `error`.
// A search of the disk may take a while, but not for ever.
inline constexpr std::chrono::milliseconds kTimeLimit { std::chrono::seconds(120) };

// When `owner` is destroyed first, the tool is stopped (CLI::runAsync).
QCoro::Task<Discovery> discover(
    QString workspace, std::chrono::milliseconds timeLimit = kTimeLimit, const QObject* owner = nullptr);
// Re-binds the workspace to `folder`.
QCoro::Task<Discovery> apply(QString workspace, QString folder, std::chrono::milliseconds timeLimit = kTimeLimit,
    const QObject* owner = nullptr);

} // namespace Relocation
