#pragma once

#include "core/gateway/CLIConfig.h"
#include "core/gateway/Failure.h"
#include "core/gateway/Records.h"
#include "core/gateway/TaskEvidence.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// The small texts and tests the task evidence blocks are drawn from.
namespace EvidenceText {

// A command is live while a runner has it: its status is exactly "claimed".
bool isLive(const CommandBrief& command);

// "artifacts", "no_artifacts", "unlisted", "failed" or "loading".
QString stateWord(const TaskEvidenceState& state);

// A task may change any number of files: the artifact rows and the diff
// block each lay out this many at most, then say how many more there are.
inline constexpr qsizetype kShownFiles = 50;

// The files whose diff the diff block lists, in order; the diffs of the
// first kShownFiles as they are shown: whole, in file order, until the
// task's budget of lines is spent, then how many lines are not shown.
QList<DeskFileChange> diffFiles(const TaskEvidenceState& state);
// The line under the shown files; empty when all of them are shown.
QString moreFiles(qsizetype files);

// "N B" up to 1023, else "x.y KiB" (no larger unit).
QString byteLabel(qint64 bytes);

// Local "HH:mm:ss"; "—" for none.
QString hhmmss(const std::optional<QDateTime>& date);

// The result block's body: the error when there is one, else the summary,
// with every "**" and then every backtick removed.
QString resultBody(const CommandBrief& command);

// The device id this computer presents, "" without a configuration.
QString thisMachine(const std::optional<CLIConfig>& config);

// The name of the first teammate whose id is the command's employee id.
std::optional<QString> employeeName(const QList<TeammateBrief>& team, const QString& employeeID);

// "第 N 拍 · HH:mm:ss".
QString pollCounter(qint64 polls, const std::optional<QDateTime>& lastFetch);

// The diff block's counts: "+A −D · N 个文件" (U+2212 for the minus).
QString diffCounts(const DeskChangeSet& changes, qsizetype files);

// The note on changes outside the task; empty when there are none.
QString externalNote(const DeskChangeSet& changes);

// The last three progress lines (all of them when fewer).
QList<ProgressLine> progressShown(const QList<ProgressLine>& tail);

// The last component of a path ("a/b.txt" → "b.txt"; trailing slashes ignored).
QString lastPathComponent(const QString& path);

// Why a file has nothing to fetch (its hash is empty): its note, else the
// binary or the not-uploaded text; none when it has a hash.
std::optional<QString> notUploaded(const DeskFileChange& file);

// How the artifact sheet shows a failed fetch. Only a gateway reply with
// HTTP status 404 means the content is not there, and content that is not
// text is a file the sheet does not render; anything else (a transport
// error, a port with 404 in it, another status) may pass and offers a retry.
struct ArtifactFailure {
    QString text;
    bool retryable = false;
};
ArtifactFailure artifactFailure(const Failure& failure);

} // namespace EvidenceText
