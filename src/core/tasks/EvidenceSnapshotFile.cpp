#include "core/tasks/EvidenceSnapshotFile.h"

#include "core/platform/JsonFile.h"
#include "core/platform/OffMainThread.h"
#include "core/platform/TolvarinePaths.h"
#include "core/tasks/EvidenceText.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <tuple>

namespace {

// Reads, merges and replaces one file; runs in the thread pool. Failures are
// ignored: the old file stays.
void writeBatch(const QString& path, const QHash<QString, QJsonObject>& entries, const QHash<QString, quint64>& recency)
{
    // Anything that cannot be read (too large, not a plain file) is started afresh.
    const QByteArray existing = JsonFile::readStored(path).data;
    const QByteArray next = EvidenceSnapshotFile::merged(existing, entries, recency);
    if (next == existing)
        return;
    JsonFile::replaceFile(path, next);
}

} // namespace

EvidenceSnapshotFile& EvidenceSnapshotFile::shared()
{
    static EvidenceSnapshotFile* writer = new EvidenceSnapshotFile;
    return *writer;
}

QString EvidenceSnapshotFile::path()
{
    return TolvarinePaths::homeFile(QStringLiteral("desktop_evidence.json"));
}

QJsonObject EvidenceSnapshotFile::entry(const CommandBrief& command, const TaskEvidenceState& state, qint64 polls,
    const QString& origin, const QString& changesState)
{
    QJsonArray files;
    if (state.kind == TaskEvidenceState::Kind::Artifacts) {
        for (const DeskFileChange& f : state.viewable) {
            files.append(QJsonObject { { QStringLiteral("path"), f.gatewayPath }, { QStringLiteral("hash"), f.hash },
                { QStringLiteral("size"), double(f.size) }, { QStringLiteral("has_hunk"), !f.hunk.isEmpty() } });
        }
    }
    QJsonObject out {
        { QStringLiteral("command"), command.id },
        { QStringLiteral("state"), EvidenceText::stateWord(state) },
        { QStringLiteral("mode"), EvidenceText::isLive(command) ? QStringLiteral("live") : QStringLiteral("replay") },
        { QStringLiteral("polls"), double(polls) },
        { QStringLiteral("origin"), origin },
        { QStringLiteral("execution_id"), command.executionID },
        { QStringLiteral("claimed_by"), command.claimedBy },
        { QStringLiteral("employee_id"), command.employeeID },
        { QStringLiteral("changes_state"), changesState },
        { QStringLiteral("files"), files },
    };
    if (state.kind != TaskEvidenceState::Kind::Artifacts)
        out.insert(QStringLiteral("why"), state.diagnostics());
    return out;
}

QByteArray EvidenceSnapshotFile::merged(const QByteArray& existing, const QHash<QString, QJsonObject>& entries,
    const QHash<QString, quint64>& recency, qint64 limit)
{
    const QJsonDocument doc = QJsonDocument::fromJson(existing);
    QJsonObject object = doc.isObject() ? doc.object() : QJsonObject();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        object.insert(it.key(), it.value());
    const QByteArray whole = QJsonDocument(object).toJson(QJsonDocument::Indented);
    if (whole.size() <= limit)
        return whole;

    // Newest first; ids never put are ordered by name, so that the same file
    // always loses the same entries.
    QStringList newestFirst = object.keys();
    std::sort(newestFirst.begin(), newestFirst.end(), [&](const QString& a, const QString& b) {
        const auto rank = [&](const QString& id) { return std::make_tuple(entries.contains(id), recency.value(id)); };
        return rank(a) != rank(b) ? rank(a) > rank(b) : a > b;
    });
    // Sizes add up: pretty-printed, the members take `frame` bytes plus, for
    // each, its size in an object of its own less `frame` (the empty
    // object's bytes less one, for the comma between members).
    const qint64 frame = QJsonDocument(QJsonObject()).toJson(QJsonDocument::Indented).size() - 1;
    qint64 size = frame;
    QJsonObject kept;
    for (const QString& id : newestFirst) {
        const QJsonValue entry = object.value(id);
        const qint64 member
            = QJsonDocument(QJsonObject { { id, entry } }).toJson(QJsonDocument::Indented).size() - frame;
        // An entry that would not fit even alone is left out (with the entry
        // it replaced); the file must stay one the reader takes.
        if (frame + member > limit)
            continue;
        if (size + member > limit)
            break;
        kept.insert(id, entry);
        size += member;
    }
    return QJsonDocument(kept).toJson(QJsonDocument::Indented);
}

void EvidenceSnapshotFile::put(const QString& commandId, const QJsonObject& entry)
{
    const QString target = path();
    m_pending[target].insert(commandId, entry);
    m_recency[target].insert(commandId, ++m_puts);
    if (!m_writing)
        startNext();
}

void EvidenceSnapshotFile::startNext()
{
    if (m_pending.isEmpty())
        return;
    const auto first = m_pending.begin();
    const QString target = first.key();
    const QHash<QString, QJsonObject> entries = first.value();
    const QHash<QString, quint64> recency = m_recency.value(target);
    m_pending.erase(first);
    m_writing = true;
    QtConcurrent::run(offMainThreadPool(), [target, entries, recency] {
        writeBatch(target, entries, recency);
    }).then(this, [this] {
        m_writing = false;
        startNext();
    });
}
