#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>

// A loopback HTTP server on threads of its own, answering every request with
// one written reply, byte for byte: a broken or hostile gateway or provider.
// "GET /healthz" gets a plain 200 unless `healthzToo`. A reply with
// `endless` set goes on with filler after `reply`, written as fast as the
// client takes it (or a byte every `dripMs`), with `keepAlive` between every
// `keepAliveMs`; any other reply closes the connection once written (an empty
// one: as soon as the request is read). It listens on `address` (IPv4 or IPv6).
class RawServer {
public:
    // What the kernel may hold of a connection on top of what the client
    // has read (the receive window grows to many MB on a loopback link).
    static constexpr qint64 kSocketBuffers = 24 * 1024 * 1024;

    struct Reply {
        QByteArray bytes; // status line, headers and the first of the body
        bool endless = false;
        int dripMs = 0;
        QByteArray filler = "x"; // repeated
        QByteArray keepAlive;
        int keepAliveMs = 0;
    };

    // A gzip header, then a block of a type that does not exist.
    static QByteArray brokenGzip()
    {
        return QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\xff\xff\xff\xff", 14);
    }

    explicit RawServer(Reply reply, bool healthzToo = false, const char* address = "127.0.0.1");
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    QString origin() const; // "http://<address>:<port>"
    // The filler written so far, once no endless reply is still being
    // written (or after ten seconds of waiting for that).
    qint64 fillerWritten();
    // Every byte written so far, replies included, waited for the same way.
    qint64 written();
    // The requests answered with the reply (not the plain /healthz).
    int requests() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
