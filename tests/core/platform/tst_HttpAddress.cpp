#include "core/platform/HttpAddress.h"

#include <QtTest>

Q_DECLARE_METATYPE(HttpAddress::Query)
Q_DECLARE_METATYPE(std::optional<HttpAddress::Problem>)

// The one address rule behind the provider form, the provider check and the
// pairing link.
class TestHttpAddress : public QObject {
    Q_OBJECT
private slots:
    void join_data()
    {
        using P = HttpAddress::Problem;
        using Q = HttpAddress::Query;
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<HttpAddress::Query>("query");
        QTest::addColumn<QString>("url"); // empty: refused
        QTest::addColumn<std::optional<P>>("problem");
        const auto add = [](const char* name, const char* base, const char* path, const char* url,
                             std::optional<P> problem = std::nullopt, Q query = Q::Refused) {
            QTest::newRow(name) << QString(base) << QString(path) << query << QString(url) << problem;
        };
        add("https with a path", "https://proxy.example/v1", "/models", "https://proxy.example/v1/models");
        add("http with a port", "http://127.0.0.1:4567", "/api/pair/start", "http://127.0.0.1:4567/api/pair/start");
        add("nothing appended", "https://proxy.example/v1/", "", "https://proxy.example/v1/");
        add("upper-case scheme", "HTTPS://proxy.example", "/models", "https://proxy.example/models");
        add("IPv6 host", "http://[::1]:8080", "/models", "http://[::1]:8080/models");
        add("no scheme", "proxy.example/v1", "/models", "", P::NotHttp);
        add("another scheme", "ftp://proxy.example", "/models", "", P::NotHttp);
        add("no host", "https:///v1", "/models", "", P::NoHost);
        add("a bare http://", "http://", "", "", P::NoHost, Q::KeptAfterPath);
        add("a port and no host", "http://:8080/v1", "/models", "", P::NoHost);
        add("scheme and path only", "https:proxy.example", "/models", "", P::NoHost);
        add("a space", "http://bad host.local:4567", "/api/pair/start", "", P::Malformed);
        add("a stray percent", "https://proxy.example/%", "", "", P::Malformed);
        add("port out of range", "https://proxy.example:99999", "/models", "", P::Malformed);
        add("a query swallows the path", "https://proxy.example/v1?team=a", "/models", "", P::HasQuery);
        add("an empty query", "https://proxy.example/v1?", "", "", P::HasQuery);
        add("a fragment swallows the path", "https://proxy.example/v1#x", "/models", "", P::Fragment);
        add("empty", "", "", "", P::NotHttp);
        // A base URL keeps its query: the path goes before it.
        add("a query kept after the path", "https://h/p?x=1", "/models", "https://h/p/models?x=1", std::nullopt,
            Q::KeptAfterPath);
        add("a deployment's query", "https://res.example/openai/deployments/d?api-version=2024-02-01", "/models",
            "https://res.example/openai/deployments/d/models?api-version=2024-02-01", std::nullopt, Q::KeptAfterPath);
        add("an empty query kept", "https://proxy.example/v1?", "", "https://proxy.example/v1?", std::nullopt,
            Q::KeptAfterPath);
        add("a query holding a slash", "https://h/p?next=/a", "/models", "https://h/p/models?next=/a", std::nullopt,
            Q::KeptAfterPath);
        add("a fragment after a kept query", "https://proxy.example/v1?x=1#y", "/models", "", P::Fragment,
            Q::KeptAfterPath);
        add("a query with no host", "https://?x=1", "/models", "", P::NoHost, Q::KeptAfterPath);
    }

    void join()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(HttpAddress::Query, query);
        QFETCH(QString, url);
        QFETCH(std::optional<HttpAddress::Problem>, problem);
        std::optional<HttpAddress::Problem> found;
        HttpAddress::Problem why {};
        const std::optional<QUrl> got = HttpAddress::join(base, path, query, &why);
        if (!got)
            found = why;
        QCOMPARE(got ? got->toString() : QString(), url);
        QCOMPARE(found, problem);
    }

    void sameServer_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("as written") << "http://127.0.0.1:18091"
                                    << "http://127.0.0.1:18091" << true;
        QTest::newRow("trailing slash") << "http://127.0.0.1:18091/"
                                        << "http://127.0.0.1:18091" << true;
        QTest::newRow("case") << "HTTP://Desk.Local:18091"
                              << "http://desk.local:18091" << true;
        QTest::newRow("default port") << "https://gw.example:443/"
                                      << "https://gw.example" << true;
        QTest::newRow("other port") << "http://127.0.0.1:18091"
                                    << "http://127.0.0.1:18092" << false;
        QTest::newRow("other host") << "http://127.0.0.1:18091"
                                    << "http://desk.local:18091" << false;
        QTest::newRow("other scheme") << "http://gw.example"
                                      << "https://gw.example" << false;
        QTest::newRow("other path") << "http://gw.example/a"
                                    << "http://gw.example/b" << false;
        QTest::newRow("not an address") << "gateway"
                                        << "http://gateway" << false;
    }

    void sameServer()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(HttpAddress::sameServer(a, b), same);
        QCOMPARE(HttpAddress::sameServer(b, a), same);
    }
};

QTEST_GUILESS_MAIN(TestHttpAddress)
#include "tst_HttpAddress.moc"
