#include "core/gateway/GatewayClient.h"
#include "core/platform/MdnsHostName.h"
#include "core/workspaces/WorkspaceCatalog.h"

#include "TempHome.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QTimer>
#include <QtTest>

#include <QCoroTask>

namespace {

// Stands in for the Avahi daemon on a private bus: answers GetHostNameFqdn
// with `name`, after `delayMs` when that is set (from this thread's event loop).
class AvahiStandIn : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.Server")
public:
    QString name;
    int delayMs = 0;
    int calls = 0;

public slots:
    QString GetHostNameFqdn()
    {
        ++calls;
        if (delayMs > 0) {
            setDelayedReply(true);
            QTimer::singleShot(delayMs, this,
                [bus = connection(), reply = message().createReply(name)] { QDBusConnection(bus).send(reply); });
            return {};
        }
        return name;
    }
};

} // namespace

// The ".local" origin comes from the Avahi daemon on the system bus, here a
// private bus (DBUS_SYSTEM_BUS_ADDRESS) on which a stand-in plays the daemon.
class TestMdnsOrigin : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QByteArray session = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        if (session.isEmpty())
            QSKIP("needs a private D-Bus session (scripts/test runs one)");
        // Before anything in this process has opened the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", session);
        m_bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("avahi-stand-in")));
        QVERIFY(m_bus->isConnected());
        QVERIFY(m_bus->registerObject(QStringLiteral("/"), &m_avahi, QDBusConnection::ExportAllSlots));
    }

    void init()
    {
        MdnsHostName::forget();
        m_avahi.calls = 0;
        m_avahi.delayMs = 0;
    }

    void origins_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("name"); // what the daemon answers
        QTest::addColumn<QString>("host"); // the ".local" origin's host; empty: none
        // A name with a space makes no URL: the origins show in the errors
        // below without a request going anywhere.
        QTest::newRow("Avahi running") << true << "bad desk.local"
                                       << "bad desk.local";
        QTest::newRow("Avahi not running") << false << ""
                                           << "";
        QTest::newRow("a name outside .local") << true << "bad desk.example"
                                               << "";
        QTest::newRow("an empty answer") << true << ""
                                         << "";
    }

    // The gateway client's candidates and the phone link's origin: the
    // ".local" name stands for a gateway on this machine only.
    void origins()
    {
        QFETCH(bool, running);
        QFETCH(QString, name);
        QFETCH(QString, host);
        setRunning(running);
        m_avahi.name = name;

        TempHome home;
        CLIConfig config { QStringLiteral("http://127.0.0.1:4567"), QStringLiteral("ws"), QStringLiteral("tok") };
        GatewayClient client;
        const Result<QByteArray> reply = QCoro::waitFor(client.get(config, QStringLiteral("/healthz"), "dev"));
        QVERIFY(!reply.ok());
        const QString tried = reply.failure().description();
        const QString candidates = host.isEmpty()
            ? QStringLiteral("试过：http://127.0.0.1:4567。")
            : QStringLiteral("试过：http://127.0.0.1:4567、http://%1:4567。").arg(host);
        QVERIFY2(tried.contains(candidates), qPrintable(tried));
        // An address on a local network may be this machine's old lease: the name is asked for it too.
        const QString lanName
            = QCoro::waitFor(GatewayClient::localHostNameFor(QStringLiteral("http://10.0.0.5:4567"), std::nullopt));
        QCOMPARE(GatewayClient::mdnsOrigin(4567, lanName).value_or(QString()),
            host.isEmpty() ? QString() : QStringLiteral("http://%1:4567").arg(host));

        // No published endpoint: for a gateway on this machine the ".local"
        // origin, else the configured address; another machine's gateway keeps its own.
        for (const QString& api :
            { QStringLiteral("http://localhost:4567"), QStringLiteral("http://bad config:4567") }) {
            home.writeFile(".tolvarine/config.json",
                QJsonDocument(QJsonObject { { "api", api }, { "workspace", "ws" }, { "token", "t" } }).toJson());
            WorkspaceCatalog catalog;
            QCoro::waitFor(catalog.reload(false));
            QCoro::waitFor(catalog.refreshPairLink());
            const QString error = catalog.pairLinkError().value_or(QString());
            if (api.contains(QLatin1String("bad config")))
                QCOMPARE(error, QStringLiteral("网关地址不合法：") + api);
            else if (!host.isEmpty())
                QCOMPARE(error, QStringLiteral("网关地址不合法：http://%1:4567").arg(host));
            else // nothing listens there
                QVERIFY2(error.startsWith(QStringLiteral("取配对码失败：")), qPrintable(error));
        }
    }

    // The daemon answers from this thread's event loop: the answer can only
    // come while the lookup leaves the thread free. It is kept afterwards.
    void askedOffTheGuiThreadAndKept()
    {
        setRunning(true);
        m_avahi.name = QStringLiteral("desk.local");
        m_avahi.delayMs = 300;
        // Lookups meanwhile join the one asking; later ones get the kept name, every time.
        auto first = MdnsHostName::lookup();
        auto second = MdnsHostName::lookup();
        QCOMPARE(QCoro::waitFor(std::move(first)), std::optional<QString>("desk.local"));
        QCOMPARE(QCoro::waitFor(std::move(second)), std::optional<QString>("desk.local"));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(QCoro::waitFor(MdnsHostName::lookup()), std::optional<QString>("desk.local"));
        QCOMPARE(m_avahi.calls, 1);
    }

private:
    void setRunning(bool running)
    {
        if (running)
            QVERIFY(m_bus->registerService(QStringLiteral("org.freedesktop.Avahi")));
        else
            m_bus->unregisterService(QStringLiteral("org.freedesktop.Avahi"));
    }

    AvahiStandIn m_avahi;
    std::unique_ptr<QDBusConnection> m_bus;
};

QTEST_GUILESS_MAIN(TestMdnsOrigin)
#include "tst_MdnsOrigin.moc"
