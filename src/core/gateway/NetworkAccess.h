#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <coroutine>
#include <memory>
#include <optional>
#include <utility>

class QTimer;

namespace NetworkAccess {

// What one reply may take: a server on the network can send a body without
// end, or drip it a byte at a time.
struct Bounds {
    qint64 maxBytes; // the body, decoded, as it arrives; what comes off the wire, with a margin (wireCap)
    int deadlineMs; // the whole exchange, connection and headers included
};

// One HTTP request. A request with a body (a POST) goes on a connection of its
// own and is never sent again by the transport.
struct Request {
    QUrl url;
    QByteArray verb = QByteArrayLiteral("GET");
    std::optional<QByteArray> body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    Bounds bounds { 8 * 1024 * 1024, 60000 };
    // This long without a byte from the server ends the request.
    int idleMs = 4000;
};

class Manager;

// One request on its way, and then its answer. Finishes exactly once (also
// when its manager's owner goes first); awaited with `co_await reply.get()`.
class Reply : public QObject {
    Q_OBJECT
public:
    enum class Error {
        None,
        TooLarge, // the body grew, or was announced, past the cap
        Deadline, // the whole exchange took longer than its deadline
        Idle, // nothing came for the idle limit
        Canceled, // its owner ended it
        Refused, // no connection: nothing was sent
        Dropped, // the connection broke after the request went out, before the whole answer
        Malformed, // an answer that breaks the protocol or does not decompress
        Other,
    };

    ~Reply() override;

    Error error() const { return m_error; }
    // The HTTP status of the answer, 0 when none came.
    int status() const { return m_status; }
    // What the transport or the system said for an error without words of
    // ours (curl's texts are English; ours are not).
    QString errorString() const { return m_errorString; }
    // Whether the connection was made and some of the request written: only
    // then may the server have taken it.
    bool requestWritten() const { return m_written; }
    // The proxy the request went through (from the environment), empty when none.
    QString proxy() const { return m_proxy; }
    // Whether the error is the proxy's: it could not be looked up or connected
    // to, or would not open the tunnel.
    bool proxyUnreached() const { return m_proxyUnreached; }
    // The whole body, once finished (empty after TooLarge or Deadline).
    QByteArray take() { return std::exchange(m_body, QByteArray()); }
    // Ends the request now, as Canceled.
    void abort();

    struct Awaiter {
        Reply* reply;
        bool await_ready() const noexcept { return !reply || reply->m_delivered; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { reply->m_waiter = handle; }
        void await_resume() const noexcept { }
    };

signals:
    void finished();

private:
    friend class Manager;
    struct Transfer;

    Reply(Manager* manager, Request request);
    void start();
    void completed(int code);
    void end(Error error);
    void deliver();
    void checkIdle();
    // Hands curl the addresses of the names it needs, once looked up, and
    // starts the transfer; called again as each lookup answers.
    void lookUp();
    bool followRedirect();
    bool logIn();

    QPointer<Manager> m_manager;
    std::unique_ptr<Transfer> m_transfer;
    Request m_request;
    QByteArray m_body;
    int m_status = 0;
    Error m_error = Error::None;
    std::optional<Error> m_cut; // set by a callback that refused a byte
    QString m_errorString;
    qint64 m_headerBytes = 0;
    int m_headerLines = 0;
    // Every byte read off the wire for this request: headers, framing,
    // extensions, trailers and compressed blocks included.
    qint64 m_wireBytes = 0;
    QString m_proxy;
    // Names to look up before the transfer: the server's, the proxy's.
    struct Name {
        QString host;
        int port;
        bool proxy;
    };
    QList<Name> m_names;
    bool m_written = false;
    bool m_proxyUnreached = false;
    int m_redirects = 0;
    bool m_basicChallenge = false;
    bool m_loggedIn = false;
    bool m_running = false;
    bool m_ended = false;
    bool m_delivered = false;
    QElapsedTimer m_lastByte;
    QTimer* m_idle = nullptr;
    QTimer* m_deadline = nullptr;
    std::coroutine_handle<> m_waiter;
};

// The transfers of one owner on libcurl's multi interface, driven from this
// thread's event loop by socket notifiers and a timer: the GUI thread never
// waits on the network. Host names are looked up on threads of their own and
// their answers kept a while (curl is handed the addresses), so a slow name
// server never holds the thread either. GETs share connections; the
// environment's proxy is used except for this machine's own addresses;
// certificates are checked; only redirects to the same origin are followed,
// and only for a request without a body.
class Manager : public QObject {
    Q_OBJECT
public:
    explicit Manager(QObject* parent = nullptr);
    ~Manager() override;

    // Starts the request at once; the reply is a child of the manager.
    Reply* send(Request request);
    // Finishes every reply still in flight, as Canceled, before this returns.
    void abortAll();

private:
    friend class Reply;
    struct Watch;
    static int onSocket(void* easy, int fd, int what, void* self, void* watch);
    static int onTimer(void* multi, long timeoutMs, void* self);
    void act(int fd, int events);
    void collect();
    // curl's multi handle, made (and the library opened) with the first request.
    void* multi();

    void* m_multi = nullptr;
    QTimer* m_timer = nullptr;
    // The notifiers of each socket number curl has used, disabled while it watches none of that number.
    QHash<int, Watch*> m_watches;
    QList<QPointer<Reply>> m_replies;
};

// A manager whose replies all finish (as Canceled) when `parent` is destroyed,
// so that the coroutines awaiting them resume and end instead of leaking.
Manager* create(QObject* parent);

struct ReplyDeleter {
    void operator()(Reply* r) const
    {
        if (r)
            r->deleteLater();
    }
};
// A reply that is released with deleteLater when its owner goes out of scope.
using ReplyPtr = std::unique_ptr<Reply, ReplyDeleter>;

// The header section an answer may have: enough for any gateway or provider.
constexpr qint64 kMaxHeaderBytes = 64 * 1024;
constexpr int kMaxHeaderLines = 256;

// A body past its cap in a user's words: "回复太大（超过 8 MB），没有读完".
QString tooLargeText(qint64 maxBytes);

// What a reply with a body cap of `maxBytes` may read off the wire before it
// is ended as too large: the cap, the header section and room for framing.
qint64 wireCap(qint64 maxBytes);

// Why no request can go out at all (libcurl cannot be loaded), in a user's
// words; none when the transport works. Loads the library when not yet loaded.
std::optional<QString> unavailable();

// The proxy the environment names for `url` (http_proxy, https_proxy,
// all_proxy, less no_proxy, as curl reads them), or empty: none for this
// machine's own addresses (loopback, its interfaces', its host name and
// ".local" name).
QString proxyFor(const QUrl& url);

// Lets tests divide the deadline and idle limit of the requests to one origin
// ("http://127.0.0.1:<port>"); 1 restores them.
void setTimeLimitsDividedForTesting(int divisor, const QString& origin = QString());

} // namespace NetworkAccess

template <> struct QCoro::detail::awaiter_type<NetworkAccess::Reply*> {
    using type = NetworkAccess::Reply::Awaiter;
};
