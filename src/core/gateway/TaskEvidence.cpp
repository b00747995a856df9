#include "core/gateway/TaskEvidence.h"

#include "core/design/MachineName.h"
#include "core/gateway/Json.h"
#include "core/platform/DisplayText.h"
#include "core/platform/Graphemes.h"

#include <QJsonArray>

std::optional<DeskFileChange> DeskFileChange::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const json::LenientReader r(value.toObject());
    const auto path = r.optionalString(QStringLiteral("path"));
    if (!path)
        return std::nullopt;
    DeskFileChange f;
    f.path = DisplayText::name(*path);
    f.gatewayPath = *path;
    f.added = r.integer(QStringLiteral("added"));
    f.deleted = r.integer(QStringLiteral("deleted"));
    // Cut where it is shown: a task's diffs share one budget of lines.
    f.hunk = r.string(QStringLiteral("hunk"));
    f.binary = r.boolean(QStringLiteral("binary"));
    f.hash = r.string(QStringLiteral("hash"));
    f.size = r.integer(QStringLiteral("size"));
    f.artifactNote = DisplayText::text(r.string(QStringLiteral("artifact_note")));
    f.attributed = r.boolean(QStringLiteral("attributed"));
    f.baselineNote = DisplayText::text(r.string(QStringLiteral("baseline_note")));
    return f;
}

DeskChangeSet DeskChangeSet::fromJson(const QJsonObject& object)
{
    const json::LenientReader r(object);
    DeskChangeSet s;
    // One undecodable entry empties the whole list rather than hiding one file.
    for (const QJsonValue& v : r.array(QStringLiteral("files"))) {
        const auto f = DeskFileChange::fromJson(v);
        if (!f) {
            s.files.clear();
            break;
        }
        s.files.append(*f);
    }
    s.added = r.integer(QStringLiteral("added"));
    s.deleted = r.integer(QStringLiteral("deleted"));
    s.unavailable = DisplayText::text(r.string(QStringLiteral("unavailable")));
    s.truncated = r.boolean(QStringLiteral("truncated"));
    s.artifactsTruncated = r.boolean(QStringLiteral("artifacts_truncated"));
    s.reconciliation = DisplayText::text(r.string(QStringLiteral("reconciliation")));
    s.externalCount = r.integer(QStringLiteral("external_count"));
    for (const QJsonValue& v : r.array(QStringLiteral("external_paths"))) {
        if (!v.isString()) {
            s.externalPaths.clear();
            break;
        }
        s.externalPaths.append(DisplayText::name(v.toString()));
    }
    s.attributionNote = DisplayText::text(r.string(QStringLiteral("attribution_note")));
    return s;
}

QList<DeskFileChange> DeskChangeSet::viewable() const
{
    QList<DeskFileChange> out;
    for (const DeskFileChange& f : files)
        if (!f.hash.isEmpty())
            out.append(f);
    return out;
}

std::optional<DeskChangesResponse> DeskChangesResponse::fromJson(const QByteArray& body)
{
    const auto object = json::parseObject(body);
    if (!object)
        return std::nullopt;
    const json::LenientReader r(*object);
    DeskChangesResponse resp;
    resp.hasChanges = r.boolean(QStringLiteral("has_changes"));
    const QJsonValue changes = object->value(QStringLiteral("changes"));
    if (changes.isObject())
        resp.changes = DeskChangeSet::fromJson(changes.toObject());
    resp.changesState = DisplayText::name(r.string(QStringLiteral("changes_state")));
    return resp;
}

TaskEvidenceState TaskEvidenceState::artifacts(const QList<DeskFileChange>& viewable, const DeskChangeSet& changes)
{
    return { Kind::Artifacts, {}, viewable, changes };
}

TaskEvidenceState TaskEvidenceState::noArtifacts(const QString& why)
{
    return { Kind::NoArtifacts, why, {}, {} };
}

TaskEvidenceState TaskEvidenceState::unlisted(const QString& why)
{
    return { Kind::Unlisted, why, {}, {} };
}

TaskEvidenceState TaskEvidenceState::failed(const QString& why)
{
    return { Kind::Failed, why, {}, {} };
}

QString TaskEvidenceState::diagnostics() const
{
    switch (kind) {
    case Kind::Artifacts:
        return QStringLiteral("清单里有 ") + QString::number(viewable.size()) + QStringLiteral(" 份可打开的产物");
    case Kind::Loading:
        return {};
    default:
        return text;
    }
}

namespace EvidenceLive {

QString headline(const TaskEvidenceState& state, bool live)
{
    using K = TaskEvidenceState::Kind;
    if (state.kind == K::Loading && live)
        return QStringLiteral("正在读第一拍…");
    if (state.kind == K::NoArtifacts && live)
        return QStringLiteral("尚无变更 —— 正在实时监听");
    if (state.kind == K::Unlisted)
        return QStringLiteral("这一趟的产物清单没能算出来");
    if (state.kind == K::Failed)
        return QStringLiteral("产物暂时无法加载");
    if (state.kind == K::Loading)
        return QStringLiteral("正在读…");
    if (state.kind == K::NoArtifacts)
        return QStringLiteral("本任务没有文件产物");
    return QStringLiteral("产物 ") + QString::number(state.viewable.size()) + QStringLiteral(" 份");
}

QString originLine(
    const QString& employeeName, const QString& claimedBy, const QString& thisMachine, const QString& executionID)
{
    QStringList parts;
    if (!employeeName.isEmpty())
        parts.append(employeeName);
    if (!claimedBy.isEmpty()) {
        if (!thisMachine.isEmpty() && claimedBy == thisMachine)
            parts.append(QStringLiteral("这台电脑"));
        else
            parts.append(MachineName::friendly(claimedBy));
    }
    const QString execution = Graphemes::leading(executionID, 8);
    if (!execution.isEmpty())
        parts.append(QStringLiteral("execution ") + execution);
    if (parts.isEmpty())
        return QStringLiteral("来源未知（服务端没给员工 / 设备 / execution）");
    return parts.join(QStringLiteral(" · "));
}

TaskEvidenceSnapshot snapshot(const QString& commandId, const Result<QByteArray>& reply)
{
    const auto failedWith = [&](const QString& description) {
        return TaskEvidenceSnapshot { TaskEvidenceState::failed(QStringLiteral("拉 /commands/")
                                          + Graphemes::leading(commandId, 8) + QStringLiteral("/changes 失败：")
                                          + description),
            QString() };
    };
    if (!reply)
        return failedWith(reply.failure().description());
    const auto resp = DeskChangesResponse::fromJson(*reply);
    if (!resp)
        return failedWith(QStringLiteral("网关的回复不是 JSON 对象"));

    TaskEvidenceSnapshot snap;
    snap.changesState = resp->changesState;
    if (!resp->changes) {
        snap.state = TaskEvidenceState::noArtifacts(
            QStringLiteral("后端没有这一趟的改动摘要（has_changes=false）：执行体判定它没有写盘，或这台设备的那版 CLI "
                           "不上报改动摘要。"));
        return snap;
    }
    const DeskChangeSet& set = *resp->changes;
    const QList<DeskFileChange> viewable = set.viewable();
    if (!set.unavailable.isEmpty() && viewable.isEmpty()) {
        snap.state = TaskEvidenceState::unlisted(set.unavailable);
    } else if (!viewable.isEmpty()) {
        snap.state = TaskEvidenceState::artifacts(viewable, set);
    } else if (set.files.isEmpty()) {
        snap.state = TaskEvidenceState::noArtifacts(QStringLiteral("这一趟的改动清单是空的。"));
    } else {
        QStringList reasons;
        for (qsizetype i = 0; i < std::min<qsizetype>(set.files.size(), 3); ++i) {
            const DeskFileChange& f = set.files[i];
            QString why;
            if (!f.artifactNote.isEmpty())
                why = f.artifactNote;
            else if (f.binary)
                why = QStringLiteral("二进制文件，这里不渲染");
            else
                why = QStringLiteral("执行体没有上传这一份，也没有说为什么");
            reasons.append(f.path + QStringLiteral("：") + why);
        }
        snap.state = TaskEvidenceState::noArtifacts(QStringLiteral("改动了 ") + QString::number(set.files.size())
            + QStringLiteral(" 个文件，但没有一份是这里打得开的：") + reasons.join(QStringLiteral("；")));
    }
    return snap;
}

} // namespace EvidenceLive
