#include "core/platform/SecretStore.h"
#include "core/providers/CredentialBroker.h"
#include "core/providers/ProviderProfileStore.h"
#include "core/providers/ProviderSheetModel.h"
#include "core/providers/ProviderVerify.h"
#include "core/providers/RuntimeBindingStore.h"

#include "RawServer.h"
#include "TempHome.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

namespace {

// A provider's model list on loopback: "/good/models" lists two models,
// "/bad/models" refuses the key and quotes it back, "/hang/models" never
// answers, "/huge/models" announces 9 MB, "/drip/models" sends its list a
// byte every 100 ms; "/html/models" is a web page, "/cut/models" breaks off
// its list, "/gzip/models" sends it as broken gzip, "/basic/models" asks for a
// login first. Keeps each request's head.
class ModelsServer : public QObject {
public:
    ModelsServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
    }
    QString origin() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    QList<QByteArray> heads;

private:
    void answer(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray head = buffer.left(end);
        heads.append(head);
        const QByteArray path = head.split(' ').value(1);
        if (path == "/hang/models")
            return;
        if (path == "/huge/models") {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 9437184\r\n\r\n");
            return;
        }
        QByteArray status = "200 OK";
        QByteArray body = R"({"object":"list","data":[{"id":"m1"},{"id":"m2"}]})";
        QByteArray extra = "Content-Type: application/json\r\n";
        qsizetype length = body.size();
        if (path == "/bad/models") {
            const qsizetype at = head.indexOf("Bearer ");
            const QByteArray key = head.mid(at + 7, head.indexOf("\r\n", at) - at - 7);
            status = "401 Unauthorized";
            body = R"({"error":{"message":"Incorrect API key provided: )" + key + R"(."}})";
            length = body.size();
        } else if (path == "/basic/models" && !head.contains("Authorization: Basic ")) {
            status = "401 Unauthorized";
            extra += "WWW-Authenticate: Basic realm=\"proxy\"\r\n";
        } else if (path == "/html/models") {
            body = "<!DOCTYPE html><html><title>Wi-Fi login</title></html>";
            extra = "Content-Type: text/html\r\n";
            length = body.size();
        } else if (path == "/cut/models") {
            body.chop(10);
        } else if (path == "/gzip/models") {
            extra += "Content-Encoding: gzip\r\n";
            body = QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + body;
            length = body.size();
        }
        const QByteArray header = "HTTP/1.1 " + status + "\r\n" + extra
            + "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
        if (path == "/drip/models") {
            socket->write(header);
            auto* drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [socket, body, sent = qsizetype(0)]() mutable {
                if (sent < body.size())
                    socket->write(body.mid(sent++, 1));
            });
            connect(socket, &QTcpSocket::disconnected, drip, &QTimer::stop);
            drip->start(100);
            return;
        }
        socket->write(header + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

RuntimeSetupInfo codexSetup()
{
    RuntimeSetupInfo s;
    s.kind = QStringLiteral("codex");
    s.providerSlots = { ProviderSlot { QStringLiteral("openai"), QStringLiteral("OpenAI"),
                            { QStringLiteral("OPENAI_API_KEY") }, {}, {} },
        ProviderSlot { QStringLiteral("anthropic"), QStringLiteral("Anthropic"), {}, {}, {} } };
    return s;
}

QByteArray fileText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::optional<ProviderProfile> stored(const QUuid& id)
{
    const QList<ProviderProfile> all = ProviderProfileStore::load();
    const auto it = std::find_if(all.begin(), all.end(), [&](const ProviderProfile& p) { return p.id == id; });
    return it == all.end() ? std::nullopt : std::optional(*it);
}

} // namespace

// Against the Secret Service of the test session (scripts/test starts an
// unlocked gnome-keyring): keys really go to and come from it.
class TestProviderSheet : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void problems_data();
    void problems();
    void modelsURL_data();
    void modelsURL();
    void createBindVerifyDelete();
    void storedProfileWithAQueryIsChecked();
    void boundedAnswers_data();
    void boundedAnswers();
    void judgedReplies_data();
    void judgedReplies();
    void noLoginCarriedOver();
    void recordWithoutKey();
    void closedDuringCheck();

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<ModelsServer> m_server;
    QList<QUuid> m_created;
};

void TestProviderSheet::init()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        && !qEnvironmentVariableIsSet("TOLVARINE_REQUIRE_KEYRING"))
        QSKIP("no D-Bus session");
    SecretStore::setShared(std::make_unique<LibsecretStore>());
    m_home = std::make_unique<TempHome>();
    m_server = std::make_unique<ModelsServer>();
}

void TestProviderSheet::cleanup()
{
    for (const QUuid& id : std::as_const(m_created))
        CredentialBroker::deleteKey(id);
    m_created.clear();
    SecretStore::setShared(nullptr);
    m_server.reset();
    m_home.reset();
}

void TestProviderSheet::problems_data()
{
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("baseURL");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("problem"); // empty: fine
    const auto add
        = [](const char* tag, const QString& provider, const QString& name, const QString& baseURL, const QString& key,
              const QString& problem) { QTest::newRow(tag) << provider << name << baseURL << key << problem; };
    add("fine", "OpenAI", "Work", " https://proxy.example/v1 ", "sk-1", QString());
    add("provider it does not take", "google", "Work", "", "sk-1", "先选一家模型服务");
    add("no name", "openai", " ", "", "sk-1", "给这个账号起个名字");
    add("no key", "openai", "Work", "", "  ", "填上 Key");
    add("base URL without scheme", "openai", "Work", "proxy.example/v1", "sk-1",
        "Base URL 要以 http:// 或 https:// 开头");
    add("base URL of another scheme", "openai", "Work", "ftp://proxy.example/v1", "sk-1",
        "Base URL 要以 http:// 或 https:// 开头");
    // The check asks "/v1/models?team=a".
    add("base URL with a query", "openai", "Work", "https://proxy.example/v1?team=a", "sk-1", QString());
    add("base URL without a host", "openai", "Work", " http:// ", "sk-1",
        "Base URL 里少了主机名，比如 https://api.example.com/v1");
    add("base URL with a fragment", "openai", "Work", "https://proxy.example/v1#x", "sk-1",
        "Base URL 不能带 # 和它后面的部分（服务收不到）");
    add("base URL with a login", "openai", "Work", "https://user:pw@proxy.example/v1", "sk-1",
        "Base URL 不能带用户名或密码（Key 填在「Key」一栏）");
    add("base URL with a user", "openai", "Work", " https://user@proxy.example/v1", "sk-1",
        "Base URL 不能带用户名或密码（Key 填在「Key」一栏）");
    add("base URL with a space", "openai", "Work", "https://proxy example/v1", "sk-1",
        "Base URL 写得不对：主机名、端口或路径里有网址不能用的字符");
}

void TestProviderSheet::problems()
{
    QFETCH(QString, provider);
    QFETCH(QString, name);
    QFETCH(QString, baseURL);
    QFETCH(QString, key);
    QFETCH(QString, problem);
    ProviderSheetModel model(QStringLiteral("codex"), QStringLiteral("Codex"), codexSetup(), {}, std::nullopt);
    QCOMPARE(model.problem({ provider, name, baseURL, QString(), key }).value_or(QString()), problem);
}

// Where the check asks: the form takes exactly the base URLs it can use.
void TestProviderSheet::modelsURL_data()
{
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QString>("baseURL");
    QTest::addColumn<QString>("url"); // empty: nowhere
    const auto add = [](const char* tag, const char* provider, const char* baseURL, const char* url) {
        QTest::newRow(tag) << QString(provider) << QString(baseURL) << QString(url);
    };
    add("provider's own", "OpenAI", "", "https://api.openai.com/v1/models");
    add("no address known", "deepseek", " ", "");
    add("base URL, slashes dropped", "deepseek", " https://proxy.example/v1// ", "https://proxy.example/v1/models");
    add("base URL with a query", "openai", "https://proxy.example/v1?team=a", "https://proxy.example/v1/models?team=a");
    add("deployment with its API version", "openai",
        " https://res.example/openai/deployments/d/?api-version=2024-02-01 ",
        "https://res.example/openai/deployments/d/models?api-version=2024-02-01");
    add("base URL with a fragment", "openai", "https://proxy.example/v1#x", "");
    add("base URL without scheme", "openai", "proxy.example/v1", "");
    add("base URL without a host", "openai", "http://", "");
}

void TestProviderSheet::modelsURL()
{
    QFETCH(QString, provider);
    QFETCH(QString, baseURL);
    QFETCH(QString, url);
    const std::optional<QUrl> got = ProviderVerify::modelsURL(provider, baseURL);
    QCOMPARE(got ? got->toString() : QString(), url);
    if (baseURL.trimmed().isEmpty())
        return;
    ProviderSheetModel model(QStringLiteral("codex"), QStringLiteral("Codex"), codexSetup(), {}, std::nullopt);
    const ProviderSheetModel::Draft draft { QStringLiteral("openai"), QStringLiteral("Work"), baseURL, QString(),
        QStringLiteral("sk-1") };
    QCOMPARE(!model.problem(draft), got.has_value());
}

void TestProviderSheet::createBindVerifyDelete()
{
    ProviderProfile other;
    other.id = QUuid::createUuid();
    other.provider = QStringLiteral("google");
    other.name = QStringLiteral("Gemini");
    ProviderSheetModel model(QStringLiteral("codex"), QStringLiteral("Codex"), codexSetup(), { other }, std::nullopt);
    // Only the providers the runtime takes are listed.
    QVERIFY(model.profiles().isEmpty());

    const QString goodKey = QStringLiteral("sk-good-") + QUuid::createUuid().toString(QUuid::Id128);
    const QString badKey = QStringLiteral("sk-bad-") + QUuid::createUuid().toString(QUuid::Id128);
    QVERIFY(QCoro::waitFor(model.create({ "openai", "Work", m_server->origin() + "/good/", "gpt-x", goodKey })));
    QVERIFY(QCoro::waitFor(model.create({ "OPENAI", "Bad", m_server->origin() + "/bad", "", badKey })));
    QCOMPARE(model.profiles().size(), 2);
    const ProviderProfile work = model.profiles().at(0);
    const ProviderProfile bad = model.profiles().at(1);
    m_created << work.id << bad.id;
    QCOMPARE(bad.provider, QStringLiteral("openai"));
    QCOMPARE(bad.defaultModel, std::nullopt);

    QVERIFY(QCoro::waitFor(model.bind(work.id)));
    QCOMPARE(RuntimeBindingStore::load().value(QStringLiteral("codex")), work.id);
    QCOMPARE(model.doneMessage(), QStringLiteral("Codex 改用「Work」"));

    // The stored key is the one sent.
    QCoro::waitFor(model.verify(work.id));
    QCOMPARE(stored(work.id)->lastVerifyOK, true);
    QCOMPARE(stored(work.id)->lastVerifyDetail, QStringLiteral("HTTP 200，列出了 2 个模型"));
    QVERIFY(m_server->heads.last().contains("Authorization: Bearer " + goodKey.toUtf8()));
    QVERIFY(m_server->heads.last().startsWith("GET /good/models "));

    // The provider quotes the refused key back: it is kept nowhere.
    QCoro::waitFor(model.verify(bad.id));
    const ProviderProfile refused = *stored(bad.id);
    QCOMPARE(refused.lastVerifyOK, false);
    QCOMPARE(*refused.lastVerifyDetail, QStringLiteral("HTTP 401：Key 被拒 · Incorrect API key provided: ****."));
    QVERIFY2(!model.doneMessage()->contains(badKey.mid(8)), qPrintable(*model.doneMessage()));
    QVERIFY(model.doneIsProblem());
    // The sheet's line says what the last action did, not the save before it.
    QCOMPARE(model.formFeedback(),
        (ProviderSheetModel::Feedback { ProviderSheetModel::Feedback::Kind::Failed, *model.doneMessage() }));
    const QByteArray file = fileText(ProviderProfileStore::filePath());
    QVERIFY(!file.contains(badKey.mid(8).toUtf8()) && !file.contains(goodKey.mid(8).toUtf8()));

    // Deleting takes the key and the record, and every runtime's binding to it.
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("aider"), work.id));
    QVERIFY(RuntimeBindingStore::bind(QStringLiteral("goose"), bad.id));
    QCoro::waitFor(model.remove(work.id));
    QCOMPARE(CredentialBroker::profileKey(work.id), std::nullopt);
    QCOMPARE(stored(work.id), std::nullopt);
    QCOMPARE(RuntimeBindingStore::load(), (QMap<QString, QUuid> { { QStringLiteral("goose"), bad.id } }));
    QCOMPARE(model.boundProfileID(), std::nullopt);
    QCOMPARE(model.doneMessage(), QStringLiteral("删掉了「Work」和它的 Key"));
    QVERIFY(!model.doneIsProblem());
    QCOMPARE(model.formFeedback(),
        (ProviderSheetModel::Feedback { ProviderSheetModel::Feedback::Kind::Ok, *model.doneMessage() }));
}

// A profile stored with a deployment-style base URL (its query holds the API
// version) is checked at its model list, the query kept.
void TestProviderSheet::storedProfileWithAQueryIsChecked()
{
    ProviderProfile azure;
    azure.id = QUuid::createUuid();
    azure.provider = QStringLiteral("openai");
    azure.name = QStringLiteral("Azure");
    azure.baseURL = m_server->origin() + QStringLiteral("/good/?api-version=2024-02-01");
    azure.createdAt = QDateTime::currentDateTimeUtc();
    QVERIFY(ProviderProfileStore::upsert(azure));
    QVERIFY(CredentialBroker::storeKey(azure.id, QStringLiteral("sk-azure-1234567")));
    m_created << azure.id;
    ProviderSheetModel model(QStringLiteral("codex"), QStringLiteral("Codex"), codexSetup(), { azure }, std::nullopt);
    QCoro::waitFor(model.verify(azure.id));
    QCOMPARE(stored(azure.id)->lastVerifyDetail, QStringLiteral("HTTP 200，列出了 2 个模型"));
    QVERIFY(m_server->heads.last().startsWith("GET /good/models?api-version=2024-02-01 "));
}

// A login written into one account's Base URL goes with that account's check only.
void TestProviderSheet::noLoginCarriedOver()
{
    ProviderProfile withLogin;
    withLogin.id = QUuid::createUuid();
    withLogin.provider = QStringLiteral("openai");
    withLogin.name = QStringLiteral("Proxy");
    withLogin.baseURL = m_server->origin().replace("://", "://user:pw@") + QStringLiteral("/basic");
    withLogin.createdAt = QDateTime::currentDateTimeUtc();
    ProviderProfile plain = withLogin;
    plain.id = QUuid::createUuid();
    plain.provider = QStringLiteral("anthropic");
    plain.baseURL = m_server->origin() + QStringLiteral("/basic");
    for (const ProviderProfile& p : { withLogin, plain }) {
        QVERIFY(ProviderProfileStore::upsert(p));
        QVERIFY(CredentialBroker::storeKey(p.id, QStringLiteral("sk-basic-1234567")));
        m_created << p.id;
    }
    ProviderSheetModel model(
        QStringLiteral("codex"), QStringLiteral("Codex"), codexSetup(), { withLogin, plain }, std::nullopt);
    QCoro::waitFor(model.verify(withLogin.id));
    QCOMPARE(stored(withLogin.id)->lastVerifyOK, true);
    QCoro::waitFor(model.verify(plain.id));
    QCOMPARE(stored(plain.id)->lastVerifyOK, false);
    for (const QByteArray& head : std::as_const(m_server->heads))
        QVERIFY2(!head.contains("x-api-key") || !head.contains("Basic"), head.constData());
}

// A record left without its key (a crash between the two) shows as such and
// is not bound.
void TestProviderSheet::recordWithoutKey()
{
    ProviderProfile keyed;
    keyed.id = QUuid::createUuid();
    keyed.provider = QStringLiteral("openai");
    keyed.name = QStringLiteral("Work");
    keyed.createdAt = QDateTime::currentDateTimeUtc();
    ProviderProfile keyless = keyed;
    keyless.id = QUuid::createUuid();
    QVERIFY(CredentialBroker::storeKey(keyed.id, QStringLiteral("sk-keyed-1234567")));
    m_created << keyed.id;
    ProviderSheetModel model(
        QStringLiteral("codex"), QStringLiteral("Codex"), codexSetup(), { keyed, keyless }, std::nullopt);
    QTRY_COMPARE(model.hasKey(keyless.id), std::optional<bool>(false));
    QCOMPARE(model.hasKey(keyed.id), std::optional<bool>(true));
    QVERIFY(!QCoro::waitFor(model.bind(keyless.id)));
    QVERIFY(RuntimeBindingStore::load().isEmpty());
    QVERIFY(QCoro::waitFor(model.bind(keyed.id)));
}

void TestProviderSheet::closedDuringCheck()
{
    auto model = std::make_unique<ProviderSheetModel>(
        QStringLiteral("codex"), QStringLiteral("Codex"), codexSetup(), QList<ProviderProfile> {}, std::nullopt);
    QVERIFY(QCoro::waitFor(model->create({ "openai", "Slow", m_server->origin() + "/hang", "", "sk-slow-1234567" })));
    const QUuid id = model->profiles().at(0).id;
    m_created << id;
    model->verify(id);
    QTRY_COMPARE(m_server->heads.size(), 1);
    model.reset();
    QTest::qWait(50);
    // Nothing the aborted check "learnt" is recorded.
    QCOMPARE(stored(id)->lastVerifiedAt, std::nullopt);
}

void TestProviderSheet::boundedAnswers_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("detail");
    QTest::newRow("a list past the cap") << "/huge" << false << QStringLiteral("回复太大（超过 8 MB），没有读完");
    // Sent as fast as this machine can: read no further than the cap and the socket buffers.
    QTest::newRow("a list without end, fast") << "raw" << false << QStringLiteral("回复太大（超过 8 MB），没有读完");
    // Every byte restarts the transfer time-out; the time limit holds anyway.
    QTest::newRow("a list a byte at a time") << "/drip" << false << QStringLiteral("没有在时限内应答");
    // Only a whole model list passes.
    QTest::newRow("a model list") << "/good" << true << QStringLiteral("HTTP 200，列出了 2 个模型");
    QTest::newRow("a web page")
        << "/html" << false
        << QStringLiteral("HTTP 200 · 回复不是模型列表：<!DOCTYPE html><html><title>Wi-Fi login</title></html>");
    QTest::newRow("a list cut off") << "/cut" << false << QStringLiteral("HTTP 200 · 回复没有收全：没发完就断开了");
    QTest::newRow("a list that does not decompress")
        << "/gzip" << false << QStringLiteral("HTTP 200 · 回复没有收全：数据坏了，读不出来");
}

// A provider's answer is read whole, within a size cap and the check's time limit.
void TestProviderSheet::boundedAnswers()
{
    QFETCH(QString, route);
    QFETCH(bool, ok);
    QFETCH(QString, detail);
    ProviderProfile profile;
    profile.provider = QStringLiteral("openai");
    RawServer raw({ "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n", true });
    profile.baseURL = route == "raw" ? raw.origin() : m_server->origin() + route;
    NetworkAccess::Manager nam;
    const ProviderVerify::Outcome outcome
        = QCoro::waitFor(ProviderVerify::check(&nam, profile, QStringLiteral("sk-test"), 1000));
    QCOMPARE(outcome.detail, detail);
    QCOMPARE(outcome.ok, ok);
    QVERIFY(raw.fillerWritten() < ProviderVerify::kMaxReplyBytes + RawServer::kSocketBuffers);
}

void TestProviderSheet::judgedReplies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("detail"); // after "HTTP 200"
    QTest::addColumn<bool>("ok");
    QTest::newRow("models") << QByteArray(R"({"data":[{"id":"m1"},{"id":"m2"}]})") << "，列出了 2 个模型" << true;
    QTest::newRow("google's names") << QByteArray(R"({"models":[{"name":"models/g1"}]})") << "，列出了 1 个模型"
                                    << true;
    QTest::newRow("an error beside entries that are no models")
        << QByteArray(R"({"data":[null,1,"x"],"error":{"message":"invalid api key"}})")
        << " · 回复里报了错：invalid api key" << false;
    QTest::newRow("an error beside models")
        << QByteArray(R"({"data":[{"id":"m1"}],"error":"quota used up"})") << " · 回复里报了错：quota used up" << false;
    QTest::newRow("entries that are no models")
        << QByteArray(R"({"data":[{"id":"m1"},{"id":""},"x"]})")
        << R"( · 回复不是模型列表：{"data":[{"id":"m1"},{"id":""},"x"]})" << false;
    QTest::newRow("a null error") << QByteArray(R"({"data":[{"id":"m1"}],"error":null})") << "，列出了 1 个模型"
                                  << true;
}

// A 200 passes only for a list whose every entry is a model, with no error named.
void TestProviderSheet::judgedReplies()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, detail);
    QFETCH(bool, ok);
    const ProviderVerify::Outcome outcome = ProviderVerify::interpret(200, body, QString(), false, "sk-test");
    QCOMPARE(outcome.detail, QStringLiteral("HTTP 200") + detail);
    QCOMPARE(outcome.ok, ok);
}

QTEST_GUILESS_MAIN(TestProviderSheet)
#include "tst_ProviderSheet.moc"
