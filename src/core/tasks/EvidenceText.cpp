#include "core/tasks/EvidenceText.h"

#include "core/platform/DisplayText.h"

namespace EvidenceText {

bool isLive(const CommandBrief& command)
{
    return command.status == QLatin1String("claimed");
}

QString stateWord(const TaskEvidenceState& state)
{
    switch (state.kind) {
    case TaskEvidenceState::Kind::Artifacts:
        return QStringLiteral("artifacts");
    case TaskEvidenceState::Kind::NoArtifacts:
        return QStringLiteral("no_artifacts");
    case TaskEvidenceState::Kind::Unlisted:
        return QStringLiteral("unlisted");
    case TaskEvidenceState::Kind::Failed:
        return QStringLiteral("failed");
    case TaskEvidenceState::Kind::Loading:
        break;
    }
    return QStringLiteral("loading");
}

QList<DeskFileChange> diffFiles(const TaskEvidenceState& state)
{
    QList<DeskFileChange> out;
    if (state.kind != TaskEvidenceState::Kind::Artifacts)
        return out;
    DisplayText::DiffBudget budget;
    for (const DeskFileChange& f : state.viewable) {
        if (f.hunk.isEmpty())
            continue;
        out.append(f);
        if (out.size() <= kShownFiles)
            out.last().hunk = DisplayText::diff(f.hunk, budget);
    }
    return out;
}

QString moreFiles(qsizetype files)
{
    if (files <= kShownFiles)
        return {};
    return QStringLiteral("还有 ") + QString::number(files - kShownFiles) + QStringLiteral(" 个文件没有列出");
}

QString byteLabel(qint64 bytes)
{
    if (bytes <= 1023)
        return QString::number(bytes) + QStringLiteral(" B");
    return QString::asprintf("%.1f KiB", double(bytes) / 1024.0);
}

QString hhmmss(const std::optional<QDateTime>& date)
{
    if (!date)
        return QStringLiteral("—");
    return date->toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

QString resultBody(const CommandBrief& command)
{
    QString text = command.error.isEmpty() ? command.summary : command.error;
    text.remove(QStringLiteral("**"));
    text.remove(QLatin1Char('`'));
    return text;
}

QString thisMachine(const std::optional<CLIConfig>& config)
{
    return config ? config->deviceId() : QString();
}

std::optional<QString> employeeName(const QList<TeammateBrief>& team, const QString& employeeID)
{
    for (const TeammateBrief& member : team) {
        if (member.id == employeeID)
            return member.name;
    }
    return std::nullopt;
}

QString pollCounter(qint64 polls, const std::optional<QDateTime>& lastFetch)
{
    return QStringLiteral("第 ") + QString::number(polls) + QStringLiteral(" 拍 · ") + hhmmss(lastFetch);
}

QString diffCounts(const DeskChangeSet& changes, qsizetype files)
{
    return QStringLiteral("+") + QString::number(changes.added) + QStringLiteral(" \u2212")
        + QString::number(changes.deleted) + QStringLiteral(" · ") + QString::number(files) + QStringLiteral(" 个文件");
}

QString externalNote(const DeskChangeSet& changes)
{
    if (changes.externalCount < 1)
        return {};
    QString text = QStringLiteral("工作区另有非当前任务的改动：") + QString::number(changes.externalCount)
        + QStringLiteral(" 个");
    if (!changes.externalPaths.isEmpty())
        text += QStringLiteral("（如 ") + changes.externalPaths.mid(0, 2).join(QStringLiteral("、"))
            + QStringLiteral("）");
    return text;
}

QList<ProgressLine> progressShown(const QList<ProgressLine>& tail)
{
    return tail.mid(std::max<qsizetype>(0, tail.size() - 3));
}

QString lastPathComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

std::optional<QString> notUploaded(const DeskFileChange& file)
{
    if (!file.hash.isEmpty())
        return std::nullopt;
    if (!file.artifactNote.isEmpty())
        return file.artifactNote;
    if (file.binary)
        return QStringLiteral("二进制文件，这里不渲染");
    return QStringLiteral("执行体没有上传这一份，也没有说为什么");
}

ArtifactFailure artifactFailure(const Failure& failure)
{
    if (failure.kind() == Failure::Kind::Gateway && failure.gatewayError() && failure.gatewayError()->status == 404) {
        return { QStringLiteral("服务器上没有这份内容。可能是工作区搬过家、内容已被清理，或者它不属于当前工作区。"),
            false };
    }
    // Content that is not text (an image, an archive): a retry would fetch the same bytes.
    if (failure.kind() == Failure::Kind::Decoding)
        return { QStringLiteral("二进制文件，这里不渲染"), false };
    return { QStringLiteral("取内容失败：") + failure.description(), true };
}

} // namespace EvidenceText
