#pragma once

#include "core/gateway/NetworkAccess.h"
#include "core/providers/ProviderProfile.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>

// Whether a provider accepts a key: one GET of its model list with the key,
// which a provider answers only for a key it knows.
namespace ProviderVerify {

constexpr int kTimeLimitMs = 15000;
// A model list, however long, is well under this.
constexpr qint64 kMaxReplyBytes = 8 * 1024 * 1024;

struct Outcome {
    bool ok = false;
    // What the provider said, fit to be stored and shown: never the key.
    QString detail;

    bool operator==(const Outcome&) const = default;
};

// The base URL (trimmed, its path without trailing slashes) + "/models" when
// one is set, its query kept after the path; else the provider's own
// model-list address. None for a provider without a known address, or a base
// URL that HttpAddress refuses.
std::optional<QUrl> modelsURL(const QString& provider, const std::optional<QString>& baseURL);
// What is wrong with a base URL (trimmed), in the user's words; none when
// it is fine or empty.
std::optional<QString> baseURLProblem(const QString& baseURL);
// The request with the key where the provider expects it.
NetworkAccess::Request request(const QUrl& url, const QString& provider, const QString& key, int timeLimitMs);
// A finished reply turned into an outcome. `status` is 0 when no HTTP answer
// came; `networkError` is what broke off the transfer, empty when nothing did.
Outcome interpret(int status, const QByteArray& body, const QString& networkError, bool timedOut, const QString& key);
// Whether a check's detail, as interpret() words it (also in profiles stored
// before), is the provider refusing the key: an answer 401 or 403. A check
// that got no answer, or another one, says nothing about the key.
bool refusedKey(const QString& detail);

// Sends the request and waits for the answer (or the time limit). The reply
// is a child of `nam`; when `nam`'s owner goes, the reply is aborted and the
// check ends with a failure.
QCoro::Task<Outcome> check(
    NetworkAccess::Manager* nam, ProviderProfile profile, QString key, int timeLimitMs = kTimeLimitMs);

} // namespace ProviderVerify
