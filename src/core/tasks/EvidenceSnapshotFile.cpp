#include "core/tasks/EvidenceSnapshotFile.h"

#include "core/platform/JsonFile.h"
#include "core/platform/OffMainThread.h"
#include "core/platform/TolvarinePaths.h"
#include "core/tasks/EvidenceText.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

// Reads, merges and replaces one file; runs in the thread pool. Failures are
// ignored: the old file stays.
void writeBatch(const QString& path, const QHash<QString, QJsonObject>& entries)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Anything that cannot be read (too large, not a plain file) is started afresh.
    const QByteArray existing = JsonFile::readStored(path).data;
    const QByteArray next = EvidenceSnapshotFile::merged(existing, entries);
    if (next == existing)
        return;
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly) && out.write(next) == next.size())
        out.commit();
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
            files.append(QJsonObject { { QStringLiteral("path"), f.path }, { QStringLiteral("hash"), f.hash },
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

QByteArray EvidenceSnapshotFile::merged(const QByteArray& existing, const QHash<QString, QJsonObject>& entries)
{
    const QJsonDocument doc = QJsonDocument::fromJson(existing);
    QJsonObject object = doc.isObject() ? doc.object() : QJsonObject();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        object.insert(it.key(), it.value());
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

void EvidenceSnapshotFile::put(const QString& commandId, const QJsonObject& entry)
{
    m_pending[path()].insert(commandId, entry);
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
    m_pending.erase(first);
    m_writing = true;
    QtConcurrent::run(offMainThreadPool(), [target, entries] { writeBatch(target, entries); }).then(this, [this] {
        m_writing = false;
        emit batchDone();
        startNext();
    });
}
