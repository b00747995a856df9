#include "core/gateway/NetworkAccess.h"

#include "core/platform/HostAddress.h"
#include "core/platform/HttpAddress.h"
#include "core/platform/LateLibrary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTimer>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

namespace NetworkAccess {

namespace {

// Set from tests on the GUI thread only.
int g_divisor = 1;
QString g_dividedOrigin;

constexpr int kMaxRedirects = 10;

// The text when libcurl cannot be loaded: nothing can go out.
const char* const kNoCurl = "网络组件没能载入（找不到 libcurl.so.4），请求都发不出去：请安装 libcurl4 软件包";

// libcurl is opened when the first request goes out, not when the application
// starts: it and the libraries under it (TLS, HTTP/2, IDN, …) would otherwise
// be loaded before the window's first frame.
struct Curl {
    template <typename F> F get(const char* symbol) const { return library.resolve<F>(symbol); }

    LateLibrary library { "libcurl.so.4" };
    decltype(&::curl_global_init) global_init = get<decltype(global_init)>("curl_global_init");
    decltype(&::curl_easy_init) easy_init = get<decltype(easy_init)>("curl_easy_init");
    decltype(&::curl_easy_cleanup) easy_cleanup = get<decltype(easy_cleanup)>("curl_easy_cleanup");
    decltype(&::curl_easy_setopt) easy_setopt = get<decltype(easy_setopt)>("curl_easy_setopt");
    decltype(&::curl_easy_getinfo) easy_getinfo = get<decltype(easy_getinfo)>("curl_easy_getinfo");
    decltype(&::curl_easy_strerror) easy_strerror = get<decltype(easy_strerror)>("curl_easy_strerror");
    decltype(&::curl_multi_init) multi_init = get<decltype(multi_init)>("curl_multi_init");
    decltype(&::curl_multi_cleanup) multi_cleanup = get<decltype(multi_cleanup)>("curl_multi_cleanup");
    decltype(&::curl_multi_setopt) multi_setopt = get<decltype(multi_setopt)>("curl_multi_setopt");
    decltype(&::curl_multi_add_handle) multi_add_handle = get<decltype(multi_add_handle)>("curl_multi_add_handle");
    decltype(&::curl_multi_remove_handle) multi_remove_handle
        = get<decltype(multi_remove_handle)>("curl_multi_remove_handle");
    decltype(&::curl_multi_socket_action) multi_socket_action
        = get<decltype(multi_socket_action)>("curl_multi_socket_action");
    decltype(&::curl_multi_info_read) multi_info_read = get<decltype(multi_info_read)>("curl_multi_info_read");
    decltype(&::curl_slist_append) slist_append = get<decltype(slist_append)>("curl_slist_append");
    decltype(&::curl_slist_free_all) slist_free_all = get<decltype(slist_free_all)>("curl_slist_free_all");
    const bool ok = global_init && easy_init && easy_cleanup && easy_setopt && easy_getinfo && easy_strerror
        && multi_init && multi_cleanup && multi_setopt && multi_add_handle && multi_remove_handle && multi_socket_action
        && multi_info_read && slist_append && slist_free_all && global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
};

// The library, opened on first use; check ok() before calling into it.
const Curl& curl()
{
    static const Curl library;
    return library;
}

CURLM* multiOf(void* m)
{
    return static_cast<CURLM*>(m);
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto defaultPort = [](const QUrl& u) { return u.scheme() == QLatin1String("https") ? 443 : 80; };
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
        && a.port(defaultPort(a)) == b.port(defaultPort(b));
}

// Whether curl takes `host` as an address without looking it up.
bool isAddressText(const QString& host)
{
    in_addr v4 {};
    return host.contains(QLatin1Char(':')) || inet_pton(AF_INET, host.toLatin1().constData(), &v4) == 1;
}

// The host names looked up, and their answers kept a while as a system
// resolver's cache would. A lookup runs on a thread of its own that nobody
// waits for (glibc may take 5 s a try when the name server is slow or gone):
// it outlives the request that started it, and its answer serves the next
// ones. Used on the GUI thread; kept for the whole process, since a lookup
// may answer while the application quits.
class Lookups : public QObject {
public:
    struct Answer {
        QList<QByteArray> addresses; // numeric, IPv6 in brackets; none when the name has none
    };

    static Lookups& instance()
    {
        static Lookups* const lookups = new Lookups;
        return *lookups;
    }

    // The answer for `host` when one is kept (a stale one is asked again
    // meanwhile; a name that has none is answered so only to the requests
    // waiting for that lookup); else none, and `then` is called on this
    // thread once the lookup has answered.
    std::optional<Answer> find(const QString& host, std::function<void()> then)
    {
        Entry& entry = m_entries[host];
        const qint64 now = m_clock.elapsed();
        if (now < entry.keptUntil) {
            if (now >= entry.freshUntil)
                ask(host, entry);
            return entry.answer;
        }
        entry.waiting.append(std::move(then));
        ask(host, entry);
        return std::nullopt;
    }

private:
    // An answer is taken as fresh this long, and used while it is asked again this long.
    static constexpr qint64 kFreshMs = 60 * 1000;
    static constexpr qint64 kKeptMs = 10 * 60 * 1000;
    static constexpr qint64 kFailureMs = 1000;

    struct Entry {
        Answer answer;
        qint64 freshUntil = 0;
        qint64 keptUntil = 0;
        bool asking = false;
        QList<std::function<void()>> waiting;
    };

    Lookups()
    {
        m_clock.start();
        // A lookup still running when the application object goes hands its
        // answer to no one: Qt's event data may be gone by then.
        qAddPostRoutine([] { s_closed.store(true); });
    }

    static inline std::atomic<bool> s_closed = false;

    void ask(const QString& host, Entry& entry)
    {
        if (entry.asking)
            return;
        entry.asking = true;
        std::thread([this, name = host.toUtf8()] {
            Answer answer = lookUp(name);
            if (s_closed.load())
                return;
            QMetaObject::invokeMethod(
                this, [this, host = QString::fromUtf8(name), answer = std::move(answer)] { answered(host, answer); },
                Qt::QueuedConnection);
        }).detach();
    }

    static Answer lookUp(const QByteArray& name)
    {
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        Answer answer;
        const int result = ::getaddrinfo(name.constData(), nullptr, &hints, &found);
        if (result != 0)
            return answer;
        for (const addrinfo* a = found; a; a = a->ai_next) {
            char text[INET6_ADDRSTRLEN] = {};
            QByteArray address;
            if (a->ai_family == AF_INET
                && inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr, text, sizeof text))
                address = text;
            else if (a->ai_family == AF_INET6
                // A link-local address means nothing without its interface,
                // which an address handed to curl cannot carry.
                && reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_scope_id == 0
                && inet_ntop(
                    AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr, text, sizeof text))
                address = '[' + QByteArray(text) + ']';
            if (!address.isEmpty() && !answer.addresses.contains(address))
                answer.addresses.append(address);
        }
        ::freeaddrinfo(found);
        return answer;
    }

    void answered(const QString& host, const Answer& answer)
    {
        Entry& entry = m_entries[host];
        entry.asking = false;
        const qint64 now = m_clock.elapsed();
        if (answer.addresses.isEmpty() && !entry.answer.addresses.isEmpty() && now < entry.keptUntil) {
            // A failed refresh keeps the answer still kept, and asks again a little later.
            entry.freshUntil = now + kFailureMs;
        } else {
            entry.answer = answer;
            // A name that has none is asked again by the next request: the
            // failure is kept only while it is handed to those waiting.
            entry.freshUntil = now + (answer.addresses.isEmpty() ? kFailureMs : kFreshMs);
            entry.keptUntil = now + (answer.addresses.isEmpty() ? kFailureMs : kKeptMs);
        }
        const QList<std::function<void()>> waiting = std::exchange(entry.waiting, {});
        for (const std::function<void()>& then : waiting)
            then();
    }

    QHash<QString, Entry> m_entries;
    QElapsedTimer m_clock;
};

// Whether `host` is this machine: a loopback address or name, one of its
// interfaces' addresses, its host name or its ".local" name.
bool isThisMachine(const QString& host)
{
    if (HttpAddress::isLoopbackHost(host))
        return true;
    if (const std::optional<HostAddress> address = HostAddress::parse(host)) {
        const QList<HostAddress> own = HostAddress::thisMachine();
        return std::any_of(own.cbegin(), own.cend(), [&](const HostAddress& a) { return a.sameAs(*address); });
    }
    const QString name = QSysInfo::machineHostName();
    return !name.isEmpty()
        && (host.compare(name, Qt::CaseInsensitive) == 0
            || host.compare(name + QLatin1String(".local"), Qt::CaseInsensitive) == 0);
}

// Whether no_proxy's list names `host`: "*", a domain and every name under
// it, an address, or a network ("10.0.0.0/8").
bool exempt(const QString& host, const QString& list)
{
    const std::optional<HostAddress> address = HostAddress::parse(host);
    const QStringList entries = list.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    for (QString entry : entries) {
        if (entry == QLatin1String("*"))
            return true;
        if (address) {
            const qsizetype slash = entry.indexOf(QLatin1Char('/'));
            const QString network = slash < 0 ? entry : entry.left(slash);
            const std::optional<HostAddress> other
                = HostAddress::parse(network.startsWith(QLatin1Char('[')) ? network.mid(1).chopped(1) : network);
            if (!other)
                continue;
            bool ok = false;
            const int prefix = slash < 0 ? -1 : entry.mid(slash + 1).toInt(&ok);
            if (slash < 0 ? address->sameAs(*other) : ok && address->isInSubnet(*other, prefix))
                return true;
            continue;
        }
        while (entry.startsWith(QLatin1Char('.')))
            entry.remove(0, 1);
        if (entry.endsWith(QLatin1Char('.')))
            entry.chop(1);
        if (host.compare(entry, Qt::CaseInsensitive) == 0
            || host.endsWith(QLatin1Char('.') + entry, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString environment(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name)).trimmed();
}

} // namespace

struct Reply::Transfer {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist* resolve = nullptr;
    // Whether the last answer's header section came to its blank line: curl
    // takes a connection closed within it for an answer with no body. An
    // interim answer's (1xx) does not count: the answer is still to come.
    bool headersEnded = false;
    // Whether a status line of a final answer (not 1xx) came.
    bool finalStatus = false;

    ~Transfer()
    {
        if (easy)
            curl().easy_cleanup(easy);
        if (headers)
            curl().slist_free_all(headers);
        if (resolve)
            curl().slist_free_all(resolve);
    }

    // Everything curl reads off the wire passes here before it is taken
    // apart (chunk framing and extensions, trailers, compressed blocks): it
    // counts toward the reply's wire cap, which the manager holds it to.
    // Also tells whether any of the request was written.
    static int onDebug(CURL* easy, curl_infotype type, char* data, size_t size, void* user)
    {
        Q_UNUSED(easy);
        auto* reply = static_cast<Reply*>(user);
        switch (type) {
        case CURLINFO_HEADER_IN:
        case CURLINFO_DATA_IN:
            reply->m_wireBytes += qint64(size);
            break;
        case CURLINFO_HEADER_OUT:
            // A proxy's tunnel request is not the request.
            if (size > 0 && !QByteArrayView(data, qsizetype(size)).startsWith("CONNECT "))
                reply->m_written = true;
            break;
        case CURLINFO_DATA_OUT:
            reply->m_written |= size > 0;
            break;
        default:
            break;
        }
        return 0;
    }

    // The body, decoded, as curl reads it: the byte past the cap is refused,
    // which ends the transfer there.
    static size_t onBody(char* data, size_t size, size_t count, void* user)
    {
        auto* reply = static_cast<Reply*>(user);
        const size_t length = size * count;
        reply->m_lastByte.restart();
        if (reply->m_body.size() + qint64(length) > reply->m_request.bounds.maxBytes) {
            reply->m_cut = Error::TooLarge;
            return 0;
        }
        // Room for the whole declared length (within the cap) at once: a
        // reply of a few megabytes that comes every poll, grown chunk by
        // chunk, leaves a trail of freed buffers in the heap each time.
        // Larger bodies (files, read once) are grown as they come.
        if (reply->m_body.isEmpty()) {
            constexpr qint64 kReservedAtMost = 8 * 1024 * 1024;
            curl_off_t declared = -1;
            if (curl().easy_getinfo(reply->m_transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) == CURLE_OK
                && declared > qint64(length) && declared <= std::min(kReservedAtMost, reply->m_request.bounds.maxBytes))
                reply->m_body.reserve(qsizetype(declared));
        }
        reply->m_body.append(data, qsizetype(length));
        return length;
    }

    // curl hands over whole header lines and refuses one longer than 100 KB
    // itself; the section as a whole is bounded here.
    static size_t onHeader(char* data, size_t size, size_t count, void* user)
    {
        auto* reply = static_cast<Reply*>(user);
        const size_t length = size * count;
        reply->m_lastByte.restart();
        reply->m_headerBytes += qint64(length);
        if (reply->m_headerBytes > kMaxHeaderBytes || ++reply->m_headerLines > kMaxHeaderLines) {
            reply->m_cut = Error::Malformed;
            return 0;
        }
        const QByteArrayView line(data, qsizetype(length));
        Transfer* transfer = reply->m_transfer.get();
        transfer->headersEnded = (line == "\r\n" || line == "\n") && transfer->finalStatus;
        if (line.startsWith("HTTP/")) {
            reply->m_basicChallenge = false;
            const qsizetype space = line.indexOf(' ');
            transfer->finalStatus = space > 0 && line.size() > space + 1 && line.at(space + 1) != '1';
        } else if (line.size() > 17 && qstrnicmp(line.data(), "www-authenticate:", 17) == 0)
            reply->m_basicChallenge |= line.sliced(17).toByteArray().trimmed().toLower().startsWith("basic");
        return length;
    }
};

// A socket curl watches, with a notifier for each direction.
struct Manager::Watch {
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
};

Reply::Reply(Manager* manager, Request request)
    : QObject(manager)
    , m_manager(manager)
    , m_transfer(std::make_unique<Transfer>())
    , m_request(std::move(request))
{
}

Reply::~Reply()
{
    if (m_running && m_manager)
        curl().multi_remove_handle(multiOf(m_manager->m_multi), m_transfer->easy);
}

void Reply::start()
{
    if (!m_manager->multi()) {
        m_errorString = QString::fromUtf8(kNoCurl);
        end(Error::Other);
        return;
    }
    CURL* easy = curl().easy_init();
    m_transfer->easy = easy;
    if (!easy) {
        m_errorString = QStringLiteral("内存不够，请求没能发出");
        end(Error::Other);
        return;
    }
    // A login in the address is sent only when the server asks for it.
    const QByteArray url = m_request.url.toEncoded(QUrl::RemoveUserInfo);
    curl().easy_setopt(easy, CURLOPT_URL, url.constData());
    curl().easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl().easy_setopt(easy, CURLOPT_ERRORBUFFER, m_transfer->errorBuffer);
    curl().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed by hand, to the same origin only.
    curl().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // Over HTTP/2 a server's stream window lets it send ahead of what is read.
    curl().easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl().easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl().easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/5.0");
    curl().easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl().easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl().easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl().easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl().easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &Transfer::onDebug);
    curl().easy_setopt(easy, CURLOPT_DEBUGDATA, this);
    curl().easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    // Should curl ever look a name up itself, a transfer taken off the multi
    // handle does not wait for that lookup.
    curl().easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    // A declared length past the cap ends the transfer before the body.
    curl().easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_request.bounds.maxBytes));
    // A backstop: the deadline below says which limit it was.
    if (g_divisor > 1 && m_request.url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery).toString() == g_dividedOrigin) {
        m_request.bounds.deadlineMs = qMax(1, m_request.bounds.deadlineMs / g_divisor);
        m_request.idleMs = qMax(1, m_request.idleMs / g_divisor);
    }
    curl().easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(m_request.bounds.deadlineMs) + 1000L);
    // The environment's proxy, decided here (never for this machine's own
    // addresses) so that its name is looked up as the server's is, and named
    // when it cannot be reached.
    m_proxy = proxyFor(m_request.url);
    curl().easy_setopt(easy, CURLOPT_PROXY, m_proxy.toUtf8().constData());
    curl().easy_setopt(easy, CURLOPT_NOPROXY, "");
    const auto defaultPort = [](const QUrl& u) { return u.scheme() == QLatin1String("https") ? 443 : 80; };
    const QUrl proxy(m_proxy.contains(QLatin1String("://")) ? m_proxy : QStringLiteral("http://") + m_proxy);
    // A SOCKS proxy without remote names has curl look the server's name up.
    const bool serverNameNeeded
        = m_proxy.isEmpty() || proxy.scheme() == QLatin1String("socks4") || proxy.scheme() == QLatin1String("socks5");
    // curl names "localhost" itself, both loopback addresses, asking no one.
    if (serverNameNeeded && !isAddressText(m_request.url.host()) && !HttpAddress::isLoopbackHost(m_request.url.host()))
        m_names.append({ m_request.url.host(), m_request.url.port(defaultPort(m_request.url)), false });
    if (!m_proxy.isEmpty() && !isAddressText(proxy.host()))
        m_names.append({ proxy.host(), proxy.port(proxy.scheme() == QLatin1String("https") ? 443 : 1080), true });
    for (const auto& [name, value] : std::as_const(m_request.headers))
        m_transfer->headers = curl().slist_append(m_transfer->headers, (name + ": " + value).constData());
    if (m_request.body) {
        // No "Expect: 100-continue" wait before the body.
        m_transfer->headers = curl().slist_append(m_transfer->headers, "Expect:");
        curl().easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_request.body->size()));
        curl().easy_setopt(easy, CURLOPT_POSTFIELDS, m_request.body->constData());
        if (m_request.verb != "POST")
            curl().easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_request.verb.constData());
        // A request that changes something goes on a connection of its own:
        // curl sends a request again when a reused connection turns out
        // closed, and the first may have arrived all the same.
        curl().easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl().easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    } else if (m_request.verb != "GET") {
        curl().easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m_request.verb.constData());
    }
    curl().easy_setopt(easy, CURLOPT_HTTPHEADER, m_transfer->headers);

    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] { end(Error::Deadline); });
    m_deadline->start(m_request.bounds.deadlineMs);
    m_idle = new QTimer(this);
    m_idle->setSingleShot(true);
    connect(m_idle, &QTimer::timeout, this, &Reply::checkIdle);
    m_lastByte.start();
    m_idle->start(m_request.idleMs);
    lookUp();
}

void Reply::lookUp()
{
    if (m_ended || !m_manager)
        return;
    while (!m_names.isEmpty()) {
        const Name name = m_names.first();
        const std::optional<Lookups::Answer> answer
            = Lookups::instance().find(name.host, [self = QPointer<Reply>(this)] {
                  if (self)
                      self->lookUp();
              });
        if (!answer)
            return;
        m_names.removeFirst();
        if (answer->addresses.isEmpty()) {
            // As curl says it.
            m_errorString = (name.proxy ? QStringLiteral("Could not resolve proxy: ")
                                        : QStringLiteral("Could not resolve host: "))
                + name.host;
            m_proxyUnreached = name.proxy;
            end(Error::Refused);
            return;
        }
        // The name as curl keeps it, with the addresses it connects to.
        const QByteArray entry
            = name.host.toUtf8() + ':' + QByteArray::number(name.port) + ':' + answer->addresses.join(',');
        m_transfer->resolve = curl().slist_append(m_transfer->resolve, entry.constData());
    }
    curl().easy_setopt(m_transfer->easy, CURLOPT_RESOLVE, m_transfer->resolve);
    if (curl().multi_add_handle(multiOf(m_manager->m_multi), m_transfer->easy) != CURLM_OK) {
        m_errorString = QStringLiteral("请求没能开始");
        end(Error::Other);
        return;
    }
    m_running = true;
}

void Reply::checkIdle()
{
    const qint64 left = m_request.idleMs - m_lastByte.elapsed();
    if (left > 0)
        m_idle->start(int(left));
    else
        end(Error::Idle);
}

void Reply::abort()
{
    end(Error::Canceled);
}

// Ends the transfer (when it still runs) with `error`; the reply finishes on
// the next turn of the event loop, outside curl's calls.
void Reply::end(Error error)
{
    if (m_ended)
        return;
    m_ended = true;
    m_error = error;
    if (m_running) {
        m_running = false;
        if (m_manager)
            curl().multi_remove_handle(multiOf(m_manager->m_multi), m_transfer->easy);
    }
    if (m_deadline)
        m_deadline->stop();
    if (m_idle)
        m_idle->stop();
    if (error == Error::TooLarge || error == Error::Deadline) {
        m_body.clear();
        m_body.squeeze();
    }
    QMetaObject::invokeMethod(this, &Reply::deliver, Qt::QueuedConnection);
}

void Reply::deliver()
{
    if (m_delivered)
        return;
    m_delivered = true;
    emit finished();
    if (const std::coroutine_handle<> waiter = std::exchange(m_waiter, {}))
        waiter.resume();
}

// Another answer at the same origin takes a request without a body there;
// another origin's is the answer.
bool Reply::followRedirect()
{
    // A request with a body (an action) goes out once, as it is: its 3xx is its answer.
    if (m_request.body)
        return false;
    if (m_status < 301 || m_status > 308 || m_status == 304 || m_status == 305 || m_status == 306)
        return false;
    char* location = nullptr;
    curl().easy_getinfo(m_transfer->easy, CURLINFO_REDIRECT_URL, &location);
    if (!location || m_redirects >= kMaxRedirects)
        return false;
    const QUrl target = QUrl::fromEncoded(QByteArray(location), QUrl::StrictMode);
    if (!target.isValid() || !sameOrigin(target, m_request.url))
        return false;
    ++m_redirects;
    m_body.clear();
    m_wireBytes = 0;
    CURL* easy = m_transfer->easy;
    curl().easy_setopt(easy, CURLOPT_URL, location);
    return curl().multi_add_handle(multiOf(m_manager->m_multi), easy) == CURLM_OK;
}

// A 401 asking for a login that the address holds: the request goes again
// with that login in place of its own Authorization header. Never a request
// with a body.
bool Reply::logIn()
{
    if (m_status != 401 || !m_basicChallenge || m_loggedIn || m_request.body || m_request.url.userName().isEmpty())
        return false;
    m_loggedIn = true;
    m_body.clear();
    m_wireBytes = 0;
    CURL* easy = m_transfer->easy;
    curl().slist_free_all(m_transfer->headers);
    m_transfer->headers = nullptr;
    for (const auto& [name, value] : std::as_const(m_request.headers)) {
        if (name.compare("Authorization", Qt::CaseInsensitive) != 0)
            m_transfer->headers = curl().slist_append(m_transfer->headers, (name + ": " + value).constData());
    }
    curl().easy_setopt(easy, CURLOPT_HTTPHEADER, m_transfer->headers);
    curl().easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    const QByteArray user = m_request.url.userName(QUrl::FullyDecoded).toUtf8();
    const QByteArray password = m_request.url.password(QUrl::FullyDecoded).toUtf8();
    curl().easy_setopt(easy, CURLOPT_USERNAME, user.constData());
    curl().easy_setopt(easy, CURLOPT_PASSWORD, password.constData());
    return curl().multi_add_handle(multiOf(m_manager->m_multi), easy) == CURLM_OK;
}

void Reply::completed(int result)
{
    const auto code = CURLcode(result);
    m_running = false;
    long status = 0;
    curl().easy_getinfo(m_transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    // Interim answers (1xx) alone are no answer.
    m_status = m_transfer->finalStatus ? int(status) : 0;
    if (code == CURLE_OK && !m_ended && (logIn() || followRedirect())) {
        m_status = 0;
        m_running = true;
        return;
    }
    m_errorString = QString::fromUtf8(m_transfer->errorBuffer).trimmed();
    if (m_errorString.isEmpty())
        m_errorString = QString::fromUtf8(curl().easy_strerror(code));
    if (m_cut) {
        end(*m_cut);
        return;
    }
    // A proxy that would not open the tunnel (its 403, 407 or 502 to the
    // CONNECT) was not passed: nothing reached the server.
    long tunnel = 0;
    curl().easy_getinfo(m_transfer->easy, CURLINFO_HTTP_CONNECTCODE, &tunnel);
    if (code != CURLE_OK && tunnel != 0 && (tunnel < 200 || tunnel > 299)) {
        m_proxyUnreached = true;
        end(Error::Refused);
        return;
    }
    switch (code) {
    case CURLE_OK:
        end(m_transfer->headersEnded ? Error::None : Error::Dropped);
        return;
    case CURLE_FILESIZE_EXCEEDED:
        end(Error::TooLarge);
        return;
    case CURLE_OPERATION_TIMEDOUT:
        end(Error::Deadline);
        return;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT: {
        long os = 0;
        curl().easy_getinfo(m_transfer->easy, CURLINFO_OS_ERRNO, &os);
        if (code == CURLE_COULDNT_CONNECT && os != 0)
            m_errorString = QString::fromLocal8Bit(std::strerror(int(os)));
        // Through a proxy, curl connects to the proxy alone.
        m_proxyUnreached = code == CURLE_COULDNT_RESOLVE_PROXY || (code == CURLE_COULDNT_CONNECT && !m_proxy.isEmpty());
        end(Error::Refused);
        return;
    }
    case CURLE_RECV_ERROR: {
        // A connection reset, or a chunked body that breaks the protocol.
        long os = 0;
        curl().easy_getinfo(m_transfer->easy, CURLINFO_OS_ERRNO, &os);
        end(os != 0 ? Error::Dropped : Error::Malformed);
        return;
    }
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
        end(Error::Dropped);
        return;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_OUT_OF_MEMORY: // also a header line past curl's own limit
        end(Error::Malformed);
        return;
    default:
        end(Error::Other);
        return;
    }
}

Manager::Manager(QObject* parent)
    : QObject(parent)
{
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

void* Manager::multi()
{
    if (m_multi || !curl().ok)
        return m_multi;
    m_multi = curl().multi_init();
    if (!m_multi)
        return nullptr;
    curl().multi_setopt(multiOf(m_multi), CURLMOPT_SOCKETFUNCTION, &Manager::onSocket);
    curl().multi_setopt(multiOf(m_multi), CURLMOPT_SOCKETDATA, this);
    curl().multi_setopt(multiOf(m_multi), CURLMOPT_TIMERFUNCTION, &Manager::onTimer);
    curl().multi_setopt(multiOf(m_multi), CURLMOPT_TIMERDATA, this);
    return m_multi;
}

Manager::~Manager()
{
    // Ending a reply takes its transfer off the multi handle.
    abortAll();
    if (m_multi)
        curl().multi_cleanup(multiOf(m_multi));
    for (Watch* watch : std::as_const(m_watches))
        delete watch;
}

Reply* Manager::send(Request request)
{
    auto* reply = new Reply(this, std::move(request));
    m_replies.removeIf([](const QPointer<Reply>& r) { return !r; });
    m_replies.append(reply);
    reply->start();
    return reply;
}

int Manager::onSocket(void* easy, int fd, int what, void* self, void* watchp)
{
    Q_UNUSED(easy);
    Q_UNUSED(watchp);
    auto* manager = static_cast<Manager*>(self);
    Watch* watch = manager->m_watches.value(fd);
    if (what == CURL_POLL_REMOVE) {
        // Disabled now: a new socket may take the same number at once. The
        // notifiers are kept for the next socket of that number (curl lets go
        // of a kept-alive connection's socket after every transfer): they
        // watch a number, not a socket, and watch nothing while disabled.
        if (watch) {
            watch->read->setEnabled(false);
            watch->write->setEnabled(false);
        }
        return 0;
    }
    if (!watch) {
        watch = new Watch;
        watch->read = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, manager);
        watch->write = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, manager);
        connect(
            watch->read, &QSocketNotifier::activated, manager, [manager, fd] { manager->act(fd, CURL_CSELECT_IN); });
        connect(
            watch->write, &QSocketNotifier::activated, manager, [manager, fd] { manager->act(fd, CURL_CSELECT_OUT); });
        manager->m_watches.insert(fd, watch);
    }
    watch->read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watch->write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int Manager::onTimer(void* multi, long timeoutMs, void* self)
{
    Q_UNUSED(multi);
    auto* manager = static_cast<Manager*>(self);
    if (timeoutMs < 0)
        manager->m_timer->stop();
    else
        manager->m_timer->start(int(qMin<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void Manager::act(int fd, int events)
{
    int running = 0;
    curl().multi_socket_action(multiOf(m_multi), curl_socket_t(fd), events, &running);
    collect();
    // curl reads at most a few hundred KB in one call; a reply that has read
    // past its wire cap (framing or compressed blocks that bring no body,
    // endless extensions) ends here as too large.
    for (const QPointer<Reply>& reply : std::as_const(m_replies)) {
        if (reply && reply->m_running && reply->m_wireBytes > wireCap(reply->m_request.bounds.maxBytes))
            reply->end(Reply::Error::TooLarge);
    }
}

void Manager::collect()
{
    int left = 0;
    while (CURLMsg* message = curl().multi_info_read(multiOf(m_multi), &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        curl().multi_remove_handle(multiOf(m_multi), easy);
        Reply* reply = nullptr;
        curl().easy_getinfo(easy, CURLINFO_PRIVATE, &reply);
        if (reply)
            reply->completed(int(result));
    }
}

void Manager::abortAll()
{
    // Guarded: a resumed coroutine may let go of another reply.
    const QList<QPointer<Reply>> replies = m_replies;
    for (const QPointer<Reply>& reply : replies) {
        if (!reply)
            continue;
        reply->end(Reply::Error::Canceled);
        reply->deliver();
    }
}

Manager* create(QObject* parent)
{
    auto* manager = new Manager(parent);
    // `destroyed` comes after the owner's QPointers are cleared and before its
    // children go, so each awaiting coroutine resumes here, finds its owner
    // gone and ends.
    if (parent)
        QObject::connect(parent, &QObject::destroyed, manager, [manager] { manager->abortAll(); });
    return manager;
}

QString tooLargeText(qint64 maxBytes)
{
    return QStringLiteral("回复太大（超过 %1 MB），没有读完").arg(maxBytes / (1024 * 1024));
}

qint64 wireCap(qint64 maxBytes)
{
    // An eighth for chunk framing and the like; compressed bodies are smaller than their cap.
    return maxBytes + maxBytes / 8 + kMaxHeaderBytes + 64 * 1024;
}

std::optional<QString> unavailable()
{
    if (curl().ok)
        return std::nullopt;
    return QString::fromUtf8(kNoCurl);
}

QString proxyFor(const QUrl& url)
{
    const QString host = url.host();
    if (host.isEmpty() || isThisMachine(host))
        return QString();
    // As curl reads them: http_proxy in lower case only (HTTP_PROXY may come
    // from a web server's request), the others in either case.
    QString proxy = url.scheme() == QLatin1String("https") ? environment("https_proxy") : environment("http_proxy");
    if (proxy.isEmpty() && url.scheme() == QLatin1String("https"))
        proxy = environment("HTTPS_PROXY");
    if (proxy.isEmpty())
        proxy = environment("all_proxy");
    if (proxy.isEmpty())
        proxy = environment("ALL_PROXY");
    if (proxy.isEmpty())
        return QString();
    QString list = environment("no_proxy");
    if (list.isEmpty())
        list = environment("NO_PROXY");
    return exempt(host, list) ? QString() : proxy;
}

void setTimeLimitsDividedForTesting(int divisor, const QString& origin)
{
    g_divisor = qMax(1, divisor);
    g_dividedOrigin = origin;
}

} // namespace NetworkAccess
