#pragma once

#include "core/gateway/Failure.h"
#include "core/gateway/Records.h"

#include <QByteArray>
#include <QCoroTask>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

class QThreadPool;

// Strict decoders of the gateway replies the status model reads. A required
// key that is missing or null, or any key of another JSON type, fails the
// whole reply; keys not read are ignored.
namespace replies {

// GET …/commands
struct Commands {
    QList<CommandBrief> commands;
    QList<RunnerInfo> runners;
    bool runnersRead = false; // only a JSON true counts
};
Result<Commands> decodeCommands(const QByteArray& body);
// The same, with the records read on `pool` in parts side by side, so that a
// long list neither holds up the calling thread nor takes one core's time.
// The awaiting thread needs a running event loop.
// `source` is the command list as it came; given the previous reading of the
// same workspace, a list equal to its source (the usual poll: nothing moved)
// takes its records as they are instead of reading them again. The runners,
// whose heartbeat ages change on every poll, are always read anew.
struct CommandsReading {
    Commands commands;
    QJsonArray source;
};
QCoro::Task<Result<CommandsReading>> decodeCommandsOn(
    QThreadPool* pool, QByteArray body, CommandsReading previous = {});

// The last body of one kind of reply and what it decoded to. A poll that
// brings the same bytes from the same place takes that value as it is: an
// idle workspace answers the same every few seconds. Decoding depends on the
// body alone, so the value is the one decoding would give again.
template <typename T> class ReplyMemo {
public:
    // `decode(body)`, unless `body` is what `source` (origin and path) brought last time.
    template <typename Decode> Result<T> read(const QString& source, const QByteArray& body, Decode decode)
    {
        if (m_value && source == m_source && body == m_body)
            return *m_value;
        Result<T> read = decode(body);
        if (read) {
            m_source = source;
            m_body = body;
            m_value = read.value();
        } else {
            m_value.reset();
            m_body.clear();
        }
        return read;
    }

private:
    QString m_source;
    QByteArray m_body;
    std::optional<T> m_value;
};

// GET …/commands/<id>/progress?limit=n. The followed command's loader needs
// "progress"; the evidence fetcher takes a missing list as empty.
struct Progress {
    QList<ProgressLine> lines;
    bool truncated = false;
};
Result<Progress> decodeProgress(const QByteArray& body, bool progressRequired);

// GET …/permissions
struct Permissions {
    QMap<QString, bool> effective;
    QStringList pending;
};
Result<Permissions> decodePermissions(const QByteArray& body);

// GET …/employees, mapped to the roster in reply order.
Result<QList<TeammateBrief>> decodeEmployees(const QByteArray& body);

// GET …/agents
struct AgentEntry {
    std::optional<QString> device;
    std::optional<QString> runtime;
};
Result<QList<AgentEntry>> decodeAgents(const QByteArray& body);

// GET …/feed; every key of an item is an optional string.
struct FeedItem {
    std::optional<QString> id;
    std::optional<QString> taskID;
    std::optional<QString> category;
    std::optional<QString> title;
    std::optional<QString> subtitle;
    std::optional<QString> command;
    std::optional<QString> status;
    std::optional<QString> originDevice;
    std::optional<QString> outcome;
};
Result<QList<FeedItem>> decodeFeed(const QByteArray& body);

// The Chinese title of an employee template's English name; other names unchanged.
QString templateNameZH(const QString& name);

} // namespace replies
