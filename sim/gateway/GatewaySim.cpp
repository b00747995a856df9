#include "GatewaySim.h"

#include "core/gateway/Json.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

QByteArray methodName(const QHttpServerRequest& request)
{
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        return "OTHER";
    }
}

QByteArray header(const QHttpServerRequest& request, const QByteArray& name)
{
    for (const auto& h : request.headers()) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

bool knownStatus(int status)
{
    return QMetaEnum::fromType<QHttpServerResponder::StatusCode>().valueToKey(status) != nullptr;
}

SimReply methodNotAllowed()
{
    return SimReply::error(405, QStringLiteral("这条接口不接受这个方法"), QStringLiteral("method_not_allowed"));
}

SimReply noRoute()
{
    return SimReply::error(404, QStringLiteral("没有这条接口"), QStringLiteral("not_found"));
}

// The body of a POST, PUT or PATCH must be a JSON object.
std::optional<QJsonObject> objectBody(const QByteArray& body)
{
    return json::parseObject(body);
}

SimReply badBody()
{
    return SimReply::error(400, QStringLiteral("请求体不是 JSON 对象"), QStringLiteral("bad_request"));
}

} // namespace

GatewaySim::GatewaySim(SimState state, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_state(std::move(state))
{
    // Scripted commands move on while the stand-in runs.
    m_clock.start();
    auto* ticker = new QTimer(this);
    ticker->setInterval(250);
    connect(ticker, &QTimer::timeout, this, [this] { m_state.tick(m_clock.elapsed()); });
    ticker->start();
}

bool GatewaySim::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // A reply's header and body go out as they are written, not held back
    // for the client's acknowledgement (which may wait 40 ms).
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QByteArray method = methodName(request);
    const QUrl url = request.url();
    const QString path = url.path(QUrl::FullyEncoded);
    QStringList segments = path.split(QLatin1Char('/'));
    if (!segments.isEmpty() && segments.first().isEmpty())
        segments.removeFirst();
    for (QString& s : segments)
        s = QUrl::fromPercentEncoding(s.toUtf8());

    const bool isControl = !segments.isEmpty() && segments.first() == QLatin1String("_sim");
    int delayMs = 0;
    SimReply reply;
    if (isControl) {
        reply = control(method, segments.mid(1), request.body());
    } else {
        QJsonObject headers;
        for (const auto& h : request.headers())
            headers.insert(QString::fromLatin1(h.first).toLower(), QString::fromUtf8(h.second));
        m_requests.append(QJsonObject { { QStringLiteral("method"), QString::fromLatin1(method) },
            { QStringLiteral("path"), path }, { QStringLiteral("query"), url.query(QUrl::FullyEncoded) },
            { QStringLiteral("headers"), headers }, { QStringLiteral("body"), QString::fromUtf8(request.body()) } });
        const std::optional<Fault> fault = takeFault(method, path);
        if (fault && fault->status != 0) {
            const bool isJson = json::parseObject(fault->body) || json::parseArray(fault->body);
            reply = SimReply { fault->status, fault->body, isJson ? "application/json" : "text/html" };
            // A redirect answers with its target as the Location header.
            if (fault->status >= 300 && fault->status < 400)
                reply = SimReply { fault->status, {}, "text/html", fault->body };
        } else {
            reply = route(method, segments, request);
        }
        if (fault)
            delayMs = fault->delayMs;
        if (fault && (fault->bodyBytes || fault->chunked || fault->dripMs > 0)) {
            stream(makeResponder(request, socket), reply, *fault);
            return true;
        }
    }
    send(makeResponder(request, socket), reply, delayMs);
    return true;
}

void GatewaySim::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    send(makeResponder(request, socket), noRoute(), 0);
}

void GatewaySim::send(QHttpServerResponder&& responder, const SimReply& reply, int delayMs)
{
    const auto status = static_cast<QHttpServerResponder::StatusCode>(reply.status);
    if (!reply.location.isEmpty()) {
        responder.write(reply.body, { { "Content-Type", reply.contentType }, { "Location", reply.location } }, status);
        return;
    }
    if (delayMs <= 0) {
        responder.write(reply.body, reply.contentType, status);
        return;
    }
    // The responder only needs its socket, which the server deletes when the
    // client goes away during the delay.
    auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
    QPointer<QTcpSocket> socket = held->socket();
    QTimer::singleShot(delayMs, this, [held, socket, reply, status] {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            held->write(reply.body, reply.contentType, status);
    });
}

void GatewaySim::stream(QHttpServerResponder&& responder, const SimReply& reply, const Fault& fault)
{
    struct Writer {
        QHttpServerResponder responder;
        QByteArray body; // the reply's own, when no filler is asked for
        qint64 total; // -1: without end
        qint64 sent = 0;
    };
    const qint64 total = fault.bodyBytes.value_or(reply.body.size());
    auto writer = std::make_shared<Writer>(Writer { std::move(responder), reply.body, total });
    QPointer<QTcpSocket> socket = writer->responder.socket();
    writer->responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
    writer->responder.writeHeader("Content-Type", reply.contentType);
    if (fault.chunked || total < 0)
        writer->responder.writeHeader("Transfer-Encoding", "chunked");
    else
        writer->responder.writeHeader("Content-Length", QByteArray::number(total));
    const bool chunked = fault.chunked || total < 0;
    // Fast streams go out as the socket drains, so that the stand-in never
    // holds more than a little of a body without end.
    constexpr qint64 kPiece = 64 * 1024;
    const qint64 piece = fault.dripMs > 0 ? 1 : kPiece;
    auto* timer = new QTimer(this);
    timer->setInterval(fault.dripMs > 0 ? fault.dripMs : 1);
    connect(timer, &QTimer::timeout, this, [writer, socket, timer, piece, chunked] {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        if (socket->bytesToWrite() > 4 * kPiece)
            return;
        const qint64 left = writer->total < 0 ? piece : qMin(piece, writer->total - writer->sent);
        if (left > 0) {
            const QByteArray part = writer->sent + left <= writer->body.size() ? writer->body.mid(writer->sent, left)
                                                                               : QByteArray(left, 'x');
            writer->responder.writeBody(chunked ? QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n" : part);
            writer->sent += left;
        }
        if (writer->total >= 0 && writer->sent >= writer->total) {
            if (chunked)
                writer->responder.writeBody(QByteArrayLiteral("0\r\n\r\n"));
            timer->stop();
            timer->deleteLater();
        }
    });
    // The first piece goes after the fault's delay.
    QTimer::singleShot(qMax(0, fault.delayMs), timer, [timer] { timer->start(); });
}

SimReply GatewaySim::route(const QByteArray& method, const QStringList& segments, const QHttpServerRequest& request)
{
    if (segments == QStringList { QStringLiteral("healthz") })
        return method == "GET" ? SimReply::ok() : methodNotAllowed();
    if (segments.size() >= 2 && segments.at(0) == QLatin1String("api") && segments.at(1) == QLatin1String("pair")) {
        if (segments.size() != 3 || segments.at(2) != QLatin1String("start"))
            return noRoute();
        if (method != "POST")
            return methodNotAllowed();
        const auto body = objectBody(request.body());
        return body ? m_state.pairStart(*body) : badBody();
    }
    if (segments.size() >= 3 && segments.at(0) == QLatin1String("api") && segments.at(1) == QLatin1String("workspaces"))
        return gateway(method, segments.mid(2), request);
    return noRoute();
}

SimReply GatewaySim::gateway(const QByteArray& method, const QStringList& s, const QHttpServerRequest& request)
{
    const QString ws = s.at(0);
    if (!m_state.has(ws))
        return SimReply::error(404, QStringLiteral("没有这个工作区"), QStringLiteral("workspace_not_found"));
    if (header(request, "Authorization") != "Bearer " + m_state.token(ws).toUtf8())
        return SimReply::error(401, QStringLiteral("访问令牌不对"), QStringLiteral("unauthorized"));

    const int n = s.size();
    const QString what = n > 1 ? s.at(1) : QString();
    const bool get = method == "GET";
    const bool post = method == "POST";
    auto withBody = [&](auto&& op) -> SimReply {
        if (!post)
            return methodNotAllowed();
        const auto body = objectBody(request.body());
        return body ? op(*body) : badBody();
    };

    if (n == 2 && what == QLatin1String("commands"))
        return get ? m_state.commands(ws) : methodNotAllowed();
    if (n == 2 && (what == QLatin1String("employees") || what == QLatin1String("agents")))
        return get ? m_state.list(ws, what, what) : methodNotAllowed();
    if (n == 2 && what == QLatin1String("feed"))
        return get ? m_state.list(ws, QStringLiteral("feed"), QStringLiteral("items")) : methodNotAllowed();
    if (n == 2 && what == QLatin1String("permissions"))
        return get ? m_state.permissions(ws) : methodNotAllowed();
    if (n == 3 && what == QLatin1String("blobs"))
        return get ? m_state.blob(ws, s.at(2)) : methodNotAllowed();
    if (n == 4 && what == QLatin1String("commands")) {
        const QString id = s.at(2);
        const QString action = s.at(3);
        if (action == QLatin1String("progress"))
            return get ? m_state.progress(ws, id, request.query()) : methodNotAllowed();
        if (action == QLatin1String("changes"))
            return get ? m_state.changes(ws, id) : methodNotAllowed();
        if (action == QLatin1String("retry"))
            return withBody([&](const QJsonObject&) { return m_state.retry(ws, id); });
        if (action == QLatin1String("delete"))
            return withBody([&](const QJsonObject&) { return m_state.remove(ws, id); });
    }
    if (n == 4 && what == QLatin1String("permissions") && s.at(3) == QLatin1String("confirm"))
        return withBody([&](const QJsonObject& body) { return m_state.confirm(ws, s.at(2), body); });
    if (n == 4 && what == QLatin1String("feed") && s.at(3) == QLatin1String("act"))
        return withBody([&](const QJsonObject& body) { return m_state.act(ws, s.at(2), body); });
    return noRoute();
}

SimReply GatewaySim::control(const QByteArray& method, const QStringList& s, const QByteArray& rawBody)
{
    const int n = s.size();
    const QString what = n > 0 ? s.at(0) : QString();
    const auto body = objectBody(rawBody);

    if (n == 1 && what == QLatin1String("requests")) {
        if (method == "GET")
            return SimReply::json({ { QStringLiteral("requests"), m_requests } });
        if (method == "DELETE") {
            m_requests = {};
            return SimReply::ok();
        }
        return methodNotAllowed();
    }
    if (n == 1 && what == QLatin1String("faults")) {
        if (method == "POST")
            return addFault(rawBody);
        if (method == "DELETE") {
            m_faults.clear();
            return SimReply::ok();
        }
        return methodNotAllowed();
    }
    if (n == 2 && what == QLatin1String("state")) {
        const QString ws = s.at(1);
        if (method == "GET") {
            if (!m_state.has(ws))
                return SimReply::error(404, QStringLiteral("没有这个工作区"), QStringLiteral("workspace_not_found"));
            return SimReply::json(m_state.workspace(ws));
        }
        if (method == "PUT" || method == "PATCH") {
            if (!body)
                return badBody();
            if (method == "PATCH") {
                if (!m_state.has(ws))
                    return SimReply::error(
                        404, QStringLiteral("没有这个工作区"), QStringLiteral("workspace_not_found"));
                m_state.merge(ws, *body);
                return SimReply::ok();
            }
            // A replaced workspace keeps its token unless the new state names one.
            QJsonObject replacement = *body;
            if (!replacement.value(QStringLiteral("token")).isString()) {
                if (!m_state.has(ws))
                    return SimReply::error(400, QStringLiteral("新工作区要有 token"), QStringLiteral("bad_request"));
                replacement.insert(QStringLiteral("token"), m_state.token(ws));
            }
            m_state.replace(ws, replacement);
            return SimReply::ok();
        }
        return methodNotAllowed();
    }
    if (n == 1 && what == QLatin1String("workspaces")) {
        if (method != "POST")
            return methodNotAllowed();
        return body ? m_state.addWorkspace(*body) : badBody();
    }
    if (n == 3 && what == QLatin1String("workspaces") && s.at(2) == QLatin1String("grant")) {
        if (method != "POST")
            return methodNotAllowed();
        if (!m_state.has(s.at(1)))
            return SimReply::error(404, QStringLiteral("没有这个工作区"), QStringLiteral("workspace_not_found"));
        return body ? m_state.grant(s.at(1), *body) : badBody();
    }
    return noRoute();
}

SimReply GatewaySim::addFault(const QByteArray& rawBody)
{
    const auto body = objectBody(rawBody);
    if (!body)
        return badBody();
    json::StrictReader r(*body);
    Fault f;
    f.method = r.string(QStringLiteral("method")).toUpper().toLatin1();
    f.path = r.requiredString(QStringLiteral("path"));
    f.status = int(r.integer(QStringLiteral("status"), 0));
    // The body is text; an object or array is taken as its JSON.
    const QJsonValue faultBody = body->value(QStringLiteral("body"));
    if (faultBody.isObject())
        f.body = QJsonDocument(faultBody.toObject()).toJson(QJsonDocument::Compact);
    else if (faultBody.isArray())
        f.body = QJsonDocument(faultBody.toArray()).toJson(QJsonDocument::Compact);
    else
        f.body = faultBody.toString().toUtf8();
    f.delayMs = int(r.integer(QStringLiteral("delay_ms"), 0));
    f.times = int(r.integer(QStringLiteral("times"), -1));
    if (body->contains(QStringLiteral("body_bytes")))
        f.bodyBytes = r.integer(QStringLiteral("body_bytes"), 0);
    f.chunked = r.boolean(QStringLiteral("chunked"), false);
    f.dripMs = int(r.integer(QStringLiteral("drip_ms"), 0));
    if (!r.ok())
        return SimReply::error(400, QStringLiteral("故障描述不对：") + r.error(), QStringLiteral("bad_request"));
    if (f.status != 0 && !knownStatus(f.status))
        return SimReply::error(400, QStringLiteral("不支持的状态码"), QStringLiteral("bad_request"));
    if (f.times == 0)
        return SimReply::ok();
    m_faults.prepend(f);
    return SimReply::ok();
}

std::optional<GatewaySim::Fault> GatewaySim::takeFault(const QByteArray& method, const QString& path)
{
    for (qsizetype i = 0; i < m_faults.size(); ++i) {
        Fault& f = m_faults[i];
        if (!f.method.isEmpty() && f.method != "*" && f.method != method)
            continue;
        const bool prefix = f.path.endsWith(QLatin1Char('*'));
        if (prefix ? !path.startsWith(f.path.chopped(1)) : path != f.path)
            continue;
        const Fault hit = f;
        if (f.times > 0 && --f.times == 0)
            m_faults.removeAt(i);
        return hit;
    }
    return std::nullopt;
}
