#include "core/tasks/EvidenceClient.h"

#include "core/gateway/GatewayClient.h"
#include "core/gateway/Replies.h"

#include <QStringDecoder>

namespace {

const QString kNoWorkspace = QStringLiteral("这台电脑上还没有工作区");

Failure noWorkspace()
{
    return Failure::tolvarine(-1, kNoWorkspace);
}

} // namespace

EvidenceClient::EvidenceClient(QObject* parent)
    : QObject(parent)
    , m_client(new GatewayClient(this))
{
}

EvidenceClient* EvidenceClient::sharedBy(QObject* owner)
{
    if (auto* shared = owner->findChild<EvidenceClient*>(QString(), Qt::FindDirectChildrenOnly))
        return shared;
    return new EvidenceClient(owner);
}

// Nothing of this object is touched after a request: when it is destroyed
// meanwhile, the aborted request's failure is simply returned.

QCoro::Task<TaskEvidenceSnapshot> EvidenceClient::evidenceSnapshot(
    QString id, std::optional<CLIConfig> config, QObject* requester)
{
    if (!config)
        co_return TaskEvidenceSnapshot { TaskEvidenceState::failed(kNoWorkspace), QString() };
    const auto path = GatewayClient::itemPath(*config, QStringLiteral("commands"), id, QStringLiteral("/changes"));
    Result<QByteArray> reply = GatewayClient::invalidAddress(*config, id);
    if (path)
        reply = co_await m_client->get(
            *config, *path, config->deviceId(), GatewayClient::kReplyBounds, RequestGate::Priority::Poll, requester);
    if (!reply)
        co_return EvidenceLive::snapshot(id, reply);
    auto reading = replies::decodeOn(
        replies::decodePool(), *reply, [id](const QByteArray& body) { return EvidenceLive::snapshot(id, body); });
    TaskEvidenceSnapshot snapshot = co_await std::move(reading);
    co_return snapshot;
}

QCoro::Task<Result<QList<ProgressLine>>> EvidenceClient::progressLines(
    QString id, std::optional<CLIConfig> config, int limit, QObject* requester)
{
    if (!config)
        co_return noWorkspace();
    const auto path = GatewayClient::itemPath(
        *config, QStringLiteral("commands"), id, QStringLiteral("/progress?limit=") + QString::number(limit));
    if (!path)
        co_return GatewayClient::invalidAddress(*config, id);
    auto fetch = m_client->get(
        *config, *path, config->deviceId(), GatewayClient::kReplyBounds, RequestGate::Priority::Poll, requester);
    const Result<QByteArray> body = co_await std::move(fetch);
    if (!body)
        co_return body.failure();
    auto reading = replies::decodeOn(
        replies::decodePool(), *body, [](const QByteArray& b) { return replies::decodeProgress(b, false); });
    const Result<replies::Progress> reply = co_await std::move(reading);
    if (!reply)
        co_return reply.failure();
    co_return reply->lines;
}

QCoro::Task<Result<QString>> EvidenceClient::artifact(QString hash, std::optional<CLIConfig> config)
{
    if (!config)
        co_return noWorkspace();
    const auto ws = GatewayClient::workspacePath(*config);
    const auto item = GatewayClient::segment(hash);
    if (!ws || !item)
        co_return GatewayClient::invalidAddress(*config, hash);
    auto fetch = m_client->get(
        *config, *ws + QStringLiteral("/blobs/") + *item, config->deviceId(), GatewayClient::kBlobBounds);
    const Result<QByteArray> body = co_await std::move(fetch);
    if (!body)
        co_return body.failure();
    // A file may run to tens of megabytes.
    auto reading = replies::decodeOn(replies::decodePool(), *body, [](const QByteArray& bytes) -> Result<QString> {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(bytes);
        // The content is there and will not change: no later fetch makes it text.
        if (decoder.hasError())
            return Failure::decoding(QStringLiteral("这份文件不是 UTF-8 文本，这里渲染不了"));
        return text;
    });
    Result<QString> text = co_await std::move(reading);
    co_return text;
}
