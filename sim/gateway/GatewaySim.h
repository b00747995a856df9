#pragma once

#include "SimReply.h"
#include "SimState.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QList>

class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;

// The stand-in workspace gateway: routes every request itself, so that the
// request log, the faults and the token check see all of them. A reply that
// is to be delayed is sent from a timer on the event loop, so a slow route
// never holds up the others.
class GatewaySim : public QAbstractHttpServer {
    Q_OBJECT
public:
    explicit GatewaySim(SimState state, QObject* parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Fault {
        QByteArray method;
        QString path;
        int status = 0;
        QByteArray body;
        int delayMs = 0;
        int times = -1;
        // How the body goes out: this many bytes of filler instead (-1: without
        // end), in chunks without a length, one byte every dripMs.
        std::optional<qint64> bodyBytes;
        bool chunked = false;
        int dripMs = 0;
    };

    SimReply route(const QByteArray& method, const QStringList& segments, const QHttpServerRequest& request);
    SimReply control(const QByteArray& method, const QStringList& segments, const QByteArray& body);
    SimReply gateway(const QByteArray& method, const QStringList& segments, const QHttpServerRequest& request);
    SimReply addFault(const QByteArray& body);
    // The first matching fault, used up by one; none when no fault applies.
    std::optional<Fault> takeFault(const QByteArray& method, const QString& path);
    void send(QHttpServerResponder&& responder, const SimReply& reply, int delayMs);
    // The reply written piece by piece as the fault says.
    void stream(QHttpServerResponder&& responder, const SimReply& reply, const Fault& fault);

    SimState m_state;
    QJsonArray m_requests;
    QList<Fault> m_faults;
    QElapsedTimer m_clock;
};
