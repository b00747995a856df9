#include "core/platform/HttpAddress.h"

#include <QtTest>

// The one address rule behind the provider form, the provider check and the
// pairing link.
class TestHttpAddress : public QObject {
    Q_OBJECT
private slots:
    void join_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("url"); // empty: refused
        const auto add = [](const char* name, const char* base, const char* path, const char* url) {
            QTest::newRow(name) << QString(base) << QString(path) << QString(url);
        };
        add("https with a path", "https://proxy.example/v1", "/models", "https://proxy.example/v1/models");
        add("http with a port", "http://127.0.0.1:4567", "/api/pair/start", "http://127.0.0.1:4567/api/pair/start");
        add("nothing appended", "https://proxy.example/v1/", "", "https://proxy.example/v1/");
        add("upper-case scheme", "HTTPS://proxy.example", "/models", "https://proxy.example/models");
        add("IPv6 host", "http://[::1]:8080", "/models", "http://[::1]:8080/models");
        add("no scheme", "proxy.example/v1", "/models", "");
        add("another scheme", "ftp://proxy.example", "/models", "");
        add("no host", "https:///v1", "/models", "");
        add("scheme and path only", "https:proxy.example", "/models", "");
        add("a space", "http://bad host.local:4567", "/api/pair/start", "");
        add("a stray percent", "https://proxy.example/%", "", "");
        add("port out of range", "https://proxy.example:99999", "/models", "");
        add("a query swallows the path", "https://proxy.example/v1?team=a", "/models", "");
        add("an empty query", "https://proxy.example/v1?", "", "");
        add("a fragment swallows the path", "https://proxy.example/v1#x", "/models", "");
        add("empty", "", "", "");
    }

    void join()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, url);
        const std::optional<QUrl> got = HttpAddress::join(base, path);
        QCOMPARE(got ? got->toString() : QString(), url);
    }
};

QTEST_GUILESS_MAIN(TestHttpAddress)
#include "tst_HttpAddress.moc"
