#include "RawServer.h"

#include <QElapsedTimer>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>
#include <vector>

struct RawServer::State {
    Reply reply;
    bool healthzToo = false;
    QString host;
    int listenFd = -1;
    quint16 port = 0;
    std::atomic<bool> stop { false };
    std::atomic<int> flooding { 0 };
    std::atomic<qint64> filler { 0 };
    std::atomic<qint64> total { 0 };
    std::atomic<int> answered { 0 };
    std::mutex mutex;
    std::vector<int> connections;
    std::vector<std::thread> threads;
    std::thread acceptor;

    bool sendAll(int fd, const QByteArray& bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += n;
            total += n;
        }
        return true;
    }

    void serve(int fd)
    {
        QByteArray in;
        char buffer[64 * 1024];
        const auto more = [&] {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0)
                in.append(buffer, n);
            return n > 0;
        };
        while (!stop) {
            qsizetype end = in.indexOf("\r\n\r\n");
            while (end < 0 && more())
                end = in.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QByteArray head = in.left(end);
            in.remove(0, end + 4);
            qsizetype length = 0;
            for (const QByteArray& line : head.split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            while (in.size() < length && more()) { }
            in.remove(0, length);
            if (!healthzToo && head.startsWith("GET /healthz ")) {
                if (!sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"))
                    return;
                continue;
            }
            ++answered;
            if (!sendAll(fd, reply.bytes))
                return;
            if (reply.endless) {
                ++flooding;
                const QByteArray chunk = reply.dripMs > 0
                    ? reply.filler.left(1)
                    : reply.filler.repeated(qMax<qsizetype>(1, 64 * 1024 / reply.filler.size()));
                QElapsedTimer sinceKeepAlive;
                sinceKeepAlive.start();
                ssize_t n = 0;
                while (!stop && (n = ::send(fd, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL)) > 0) {
                    filler += n;
                    total += n;
                    if (reply.keepAliveMs > 0 && sinceKeepAlive.elapsed() >= reply.keepAliveMs) {
                        if (!sendAll(fd, reply.keepAlive))
                            break;
                        sinceKeepAlive.restart();
                    }
                    // Woken early by the client's close or the server's end.
                    pollfd p { fd, POLLRDHUP, 0 };
                    if (reply.dripMs > 0 && ::poll(&p, 1, reply.dripMs) > 0)
                        break;
                }
                --flooding;
                return;
            }
            // Closed only once the client has read it all and let go: a close
            // with unread bytes would reset the connection under them.
            ::shutdown(fd, SHUT_WR);
            pollfd p { fd, POLLIN, 0 };
            while (!stop && ::poll(&p, 1, 2000) > 0 && more()) { }
            return;
        }
    }

    void accept()
    {
        while (!stop) {
            pollfd p { listenFd, POLLIN, 0 };
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd < 0)
                continue;
            const std::lock_guard lock(mutex);
            connections.push_back(fd);
            threads.emplace_back([this, fd] { serve(fd); });
        }
    }
};

RawServer::RawServer(Reply reply, bool healthzToo, const char* host)
    : m_state(std::make_unique<State>())
{
    m_state->host = QString::fromLatin1(host);
    m_state->reply = std::move(reply);
    m_state->healthzToo = healthzToo;
    const bool v6 = m_state->host.contains(QLatin1Char(':'));
    m_state->listenFd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    sockaddr_in6 address6 {};
    address.sin_family = AF_INET;
    address6.sin6_family = AF_INET6;
    ::inet_pton(AF_INET, host, &address.sin_addr);
    ::inet_pton(AF_INET6, host, &address6.sin6_addr);
    auto* bound = v6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address);
    socklen_t size = v6 ? sizeof address6 : sizeof address;
    ::bind(m_state->listenFd, bound, size);
    ::listen(m_state->listenFd, 16);
    ::getsockname(m_state->listenFd, bound, &size);
    m_state->port = ntohs(v6 ? address6.sin6_port : address.sin_port);
    m_state->acceptor = std::thread([state = m_state.get()] { state->accept(); });
}

RawServer::~RawServer()
{
    m_state->stop = true;
    m_state->acceptor.join();
    for (const int fd : m_state->connections)
        ::shutdown(fd, SHUT_RDWR);
    for (std::thread& t : m_state->threads)
        t.join();
    for (const int fd : m_state->connections)
        ::close(fd);
    ::close(m_state->listenFd);
}

QString RawServer::origin() const
{
    const QString host = m_state->host.contains(QLatin1Char(':')) ? u'[' + m_state->host + u']' : m_state->host;
    return QStringLiteral("http://") + host + QLatin1Char(':') + QString::number(m_state->port);
}

qint64 RawServer::fillerWritten()
{
    QElapsedTimer waited;
    waited.start();
    while (m_state->flooding > 0 && waited.elapsed() < 10000)
        QThread::msleep(10);
    return m_state->filler;
}

qint64 RawServer::written()
{
    fillerWritten();
    return m_state->total;
}

int RawServer::requests() const
{
    return m_state->answered;
}
