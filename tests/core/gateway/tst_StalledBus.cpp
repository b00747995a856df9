#include "core/gateway/GatewayClient.h"
#include "core/platform/MdnsHostName.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <QCoroTask>

#include <unistd.h>

namespace {

// A gateway that answers every request with 200 and "{}".
class AnsweringGateway : public QTcpServer {
public:
    AnsweringGateway()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    if (socket->readAll().contains("\r\n\r\n"))
                        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
                });
            }
        });
        listen(QHostAddress::LocalHost, 0);
    }
};

} // namespace

// A system bus that takes connections and never answers them. D-Bus reads
// the bus's address once a process, so this one has its own program.
class TestStalledBus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_bus.listen(m_dir.filePath(QStringLiteral("bus"))));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_bus.fullServerName()));
        // Once told to, the bus takes the authentication, then says nothing more.
        connect(&m_bus, &QLocalServer::newConnection, this, [this] {
            while (m_takesAuthentication && m_bus.hasPendingConnections()) {
                QLocalSocket* socket = m_bus.nextPendingConnection();
                ++m_connections;
                connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                    const QByteArray line = socket->readAll();
                    if (line.contains("AUTH EXTERNAL"))
                        socket->write("OK 0123456789abcdef0123456789abcdef\r\n");
                    else if (line.contains("AUTH"))
                        socket->write("REJECTED EXTERNAL\r\n");
                    if (line.contains("BEGIN"))
                        socket->write(m_afterBegin);
                });
            }
        });
    }

    // Neither a gateway request nor the ".local" lookup waits for it (the
    // waits are bounds for a hang, far above what either takes).
    void holdsNothingUp_data()
    {
        QTest::addColumn<bool>("answers"); // the configured address
        QTest::newRow("a gateway that answers") << true;
        QTest::newRow("a gateway that does not") << false;
    }

    void holdsNothingUp()
    {
        QFETCH(bool, answers);
        MdnsHostName::forget();
        AnsweringGateway gateway;
        QVERIFY(gateway.isListening());
        const quint16 port = answers ? gateway.serverPort() : 1;
        const CLIConfig config { QStringLiteral("http://127.0.0.1:") + QString::number(port), QStringLiteral("ws"),
            QStringLiteral("tok") };
        GatewayClient client;
        auto request = client.get(config, QStringLiteral("/api/workspaces/ws/commands"), "dev");
        QTRY_VERIFY_WITH_TIMEOUT(request.isReady(), 10000);
        const Result<QByteArray> reply = QCoro::waitFor(std::move(request));
        QCOMPARE(reply.ok(), answers);

        auto lookup = MdnsHostName::lookup();
        QTRY_VERIFY_WITH_TIMEOUT(lookup.isReady(), 10000);
        QCOMPARE(QCoro::waitFor(std::move(lookup)), std::nullopt);
        QVERIFY(m_bus.hasPendingConnections()); // it was asked
    }

    // The GUI thread held while the asking is out: its end and the lookup's
    // bound fall due in one pass, and the lookup ends once.
    void heldThreadEndsTheWaitOnce()
    {
        MdnsHostName::forget();
        QSignalSpy asked(&m_bus, &QLocalServer::newConnection);
        int ended = 0;
        auto watching = endsOf(&ended);
        QTRY_COMPARE(asked.count(), 1);
        QThread::sleep(3);
        QTRY_COMPARE_WITH_TIMEOUT(ended, 1, 10000);
        QTest::qWait(100);
        QCOMPARE(ended, 1);
    }

    void silentAfterAuthentication_data()
    {
        // What the bus sends once it has taken the authentication and Hello.
        QTest::addColumn<QByteArray>("afterBegin");
        const auto message = [](char type, char replySerial) {
            // A header with no body: its one field is the reply serial.
            return QByteArray("l\0\0\1\0\0\0\0\1\0\0\0\x08\0\0\0\x05\1u\0\0\0\0\0", 24)
                .replace(1, 1, QByteArray(1, type))
                .replace(20, 1, QByteArray(1, replySerial));
        };
        QTest::newRow("nothing") << QByteArray();
        QTest::newRow("text") << QByteArray("DATA\r\n");
        QTest::newRow("bytes") << QByteArray(64, '\x17');
        QTest::newRow("an error for Hello") << message('\3', '\1');
        QTest::newRow("a reply to another call") << message('\2', '\2');
    }

    // Qt's own connection would wait 25 s for the reply to its Hello, and the
    // quit for that: it is never made to a bus that did not answer this
    // check's Hello.
    void silentAfterAuthentication()
    {
        QFETCH(QByteArray, afterBegin);
        MdnsHostName::forget();
        while (m_bus.hasPendingConnections()) // the earlier lookups'
            delete m_bus.nextPendingConnection();
        m_takesAuthentication = true;
        m_afterBegin = afterBegin;
        auto checking = MdnsHostName::systemBusAnswers();
        QTRY_VERIFY_WITH_TIMEOUT(checking.isReady(), 10000);
        QVERIFY(!QCoro::waitFor(std::move(checking)));
        m_connections = 0;
        auto lookup = MdnsHostName::lookup();
        QTRY_VERIFY_WITH_TIMEOUT(lookup.isReady(), 10000);
        QCOMPARE(QCoro::waitFor(std::move(lookup)), std::nullopt);
        QCOMPARE(m_connections, 1); // the lookup's own check
    }

    // The check reaches a bus at each kind of address it reads, and one that
    // replies to its Hello there answers.
    void answersAtEachAddress_data()
    {
        QTest::addColumn<QByteArray>("transport");
        QTest::addColumn<bool>("listening");
        QTest::newRow("a socket path") << QByteArray("path") << true;
        QTest::newRow("an abstract socket") << QByteArray("abstract") << true;
        QTest::newRow("an abstract socket no one listens at") << QByteArray("abstract") << false;
        QTest::newRow("a host name and port") << QByteArray("tcp") << true;
        QTest::newRow("a port no one listens at") << QByteArray("tcp") << false;
    }

    void answersAtEachAddress()
    {
        QFETCH(QByteArray, transport);
        QFETCH(bool, listening);
        // Its reply to Hello (serial 1): the unique name ":1.1".
        const QByteArray reply("l\2\0\1\x09\0\0\0\1\0\0\0\x0f\0\0\0"
                               "\5\1u\0\1\0\0\0\x08\1g\0\1s\0\0"
                               "\4\0\0\0:1.1\0",
            41);
        const auto answer = [reply](QIODevice* socket) {
            connect(socket, &QIODevice::readyRead, socket, [socket, reply] {
                const QByteArray line = socket->readAll();
                if (line.contains(QByteArray("\0AUTH EXTERNAL ", 15) + QByteArray::number(getuid()).toHex() + "\r\n"))
                    socket->write("OK 0123456789abcdef0123456789abcdef\r\n");
                if (line.startsWith("BEGIN\r\nl\1\0\1"))
                    socket->write(reply);
            });
        };
        QLocalServer local;
        QTcpServer tcp;
        connect(&local, &QLocalServer::newConnection, this, [&] { answer(local.nextPendingConnection()); });
        connect(&tcp, &QTcpServer::newConnection, this, [&] { answer(tcp.nextPendingConnection()); });
        QByteArray address;
        if (transport == "tcp") {
            QVERIFY(tcp.listen(QHostAddress::LocalHost, 0));
            address = "tcp:host=localhost,port=" + QByteArray::number(tcp.serverPort());
        } else {
            const QString name = m_dir.filePath(QStringLiteral("bus-") + QString::fromLatin1(transport));
            if (transport == "abstract")
                local.setSocketOptions(QLocalServer::AbstractNamespaceOption);
            QVERIFY(local.listen(name));
            address = "unix:" + transport + "=" + QFile::encodeName(local.fullServerName()).toPercentEncoding("/");
        }
        if (!listening) {
            local.close();
            tcp.close();
        }
        const QByteArray stalled = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        const auto restore = qScopeGuard([&] { qputenv("DBUS_SYSTEM_BUS_ADDRESS", stalled); });
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "nonsense;unix:runtime=yes;" + address);
        auto checking = MdnsHostName::systemBusAnswers();
        QTRY_VERIFY_WITH_TIMEOUT(checking.isReady(), 10000);
        QCOMPARE(QCoro::waitFor(std::move(checking)), listening);
    }

private:
    static QCoro::Task<> endsOf(int* ended)
    {
        auto lookup = MdnsHostName::lookup();
        co_await std::move(lookup);
        ++*ended;
    }

    QTemporaryDir m_dir;
    QLocalServer m_bus;
    bool m_takesAuthentication = false;
    QByteArray m_afterBegin;
    int m_connections = 0;
};

QTEST_GUILESS_MAIN(TestStalledBus)
#include "tst_StalledBus.moc"
