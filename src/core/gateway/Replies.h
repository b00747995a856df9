#pragma once

#include "core/gateway/Failure.h"
#include "core/gateway/Records.h"
#include "core/platform/OffMainThread.h"

#include <QByteArray>
#include <QCoroTask>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

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
// `source` is the reply the list came in and `list` where its "commands"
// value lies in it; given the previous reading of the same workspace, a list
// written byte for byte as that one (the usual poll: nothing moved) takes its
// records as they are instead of reading them again. The runners, whose
// heartbeat ages change on every poll, are always read anew. The bytes are
// kept rather than the parsed list: a parsed record takes several times its
// text.
struct CommandsReading {
    Commands commands;
    QByteArray source;
    // Offset and length of the list in `source`; none when it could not be told.
    std::optional<std::pair<qsizetype, qsizetype>> list;
    QByteArrayView listBytes() const
    {
        return list ? QByteArrayView(source).sliced(list->first, list->second) : QByteArrayView();
    }
};
// Where the value of the top-level key `key` lies in `json`, a valid JSON
// object; none when it is not there, is there twice or a key is written
// with escapes (it might spell `key`).
std::optional<std::pair<qsizetype, qsizetype>> topLevelValue(QByteArrayView json, QByteArrayView key);
QCoro::Task<Result<CommandsReading>> decodeCommandsOn(
    QThreadPool* pool, QByteArray body, CommandsReading previous = {});

// Where replies are decoded, off the GUI thread.
QThreadPool* decodePool();

// `decode(body)` on `pool`: a reply of millions of records or a file of
// many megabytes is read without holding up the awaiting thread, which needs
// a running event loop and takes the result in the order it awaits them.
template <typename Decode>
auto decodeOn(QThreadPool* pool, QByteArray body, Decode decode)
    -> QCoro::Task<std::invoke_result_t<Decode&, const QByteArray&>>
{
    return offMainThread(pool, [body = std::move(body), decode = std::move(decode)] { return decode(body); });
}

// The last body of one kind of reply and what it decoded to. A poll that
// brings the same bytes from the same place takes that value as it is: an
// idle workspace answers the same every few seconds. Decoding depends on the
// body alone, so the value is the one decoding would give again.
template <typename T> class ReplyMemo {
public:
    // `decode(body)` on `pool` (decodeOn), unless `body` is what `source`
    // (origin and path) brought last time. The memo may go while the
    // decoding runs: what it keeps outlives it.
    template <typename Decode>
    QCoro::Task<Result<T>> readOn(QThreadPool* pool, QString source, QByteArray body, Decode decode)
    {
        const std::shared_ptr<Kept> kept = m_kept;
        if (std::optional<Result<T>> known = kept->recall(source, body)) {
            Result<T> value = *known;
            co_return value;
        }
        auto decoding = decodeOn(pool, body, std::move(decode));
        Result<T> read = co_await std::move(decoding);
        kept->keep(source, body, read);
        co_return read;
    }

private:
    struct Kept {
        QString source;
        QByteArray body;
        std::optional<T> value;

        std::optional<Result<T>> recall(const QString& from, const QByteArray& bytes) const
        {
            if (value && from == source && bytes == body)
                return Result<T>(*value);
            return std::nullopt;
        }
        void keep(const QString& from, const QByteArray& bytes, const Result<T>& read)
        {
            if (read) {
                source = from;
                body = bytes;
                value = read.value();
            } else {
                value.reset();
                body.clear();
            }
        }
    };
    std::shared_ptr<Kept> m_kept = std::make_shared<Kept>();
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
// The same, handing each item to `take` as it is read instead of keeping
// them all: a feed of millions of items the window does not show costs no
// more memory than its JSON. On a failure some items may have been taken.
Result<> readFeed(const QByteArray& body, const std::function<void(FeedItem&&)>& take);

// The Chinese title of an employee template's English name; other names unchanged.
QString templateNameZH(const QString& name);

} // namespace replies
