#include "core/runtimes/RuntimeSectionValues.h"

#include "core/workforce/RuntimeCatalog.h"

#include <QtTest>

using Counts = QMap<QString, qint64>;

class TestRuntimeSectionValues : public QObject {
    Q_OBJECT
private slots:
    void runtimeSectionValues()
    {
        const auto row = [](const QString& kind, const QString& display, const QString& detail = {}) {
            RuntimeRow r;
            r.kind = kind;
            r.display = display;
            r.detail = detail;
            return r;
        };
        const QList<RuntimeRow> rows { row("acp", "ACP", "/opt/Agents/ZedAgent"), row("claude", "Claude Code"),
            row("generic", "自定义", "探测超时"), row("claude", "Claude again", "bin/claude"),
            row("mcp", "MCP", "/usr/bin/Tool.SH") };
        QList<RuntimeRow> plain = RuntimeSectionValues::plainRuntimeRows(rows);
        QCOMPARE(plain.size(), 2);
        QCOMPARE(plain.at(1).display, QStringLiteral("Claude again"));
        QCOMPARE(runtimeCatalog(rows),
            (RuntimeCatalog {
                { "acp", "ACP" }, { "claude", "Claude Code" }, { "generic", "自定义" }, { "mcp", "MCP" } }));
        QCOMPARE(RuntimeSectionValues::knownRuntimeNames(rows),
            (QSet<QString> { "acp", "zedagent", "claude", "generic", "mcp", "tool.sh" }));
    }

    void runtimeCountLine_data()
    {
        QTest::addColumn<Counts>("counts");
        QTest::addColumn<QString>("line"); // empty: no line
        QTest::newRow("empty") << Counts {} << QString();
        QTest::newRow("two keys") << Counts { { "registered", 3 },
            { "ready", 1 } } << QStringLiteral("已注册 3 家 · 已安装 0 家 · 可用 1 家 · 待登录 0 家 · 待配凭据 0 家");
        QTest::newRow("all") << Counts { { "registered", 10 }, { "installed", 8 }, { "ready", 2 },
            { "login_required", 1 }, { "credentials_required", 4 }, { "total", 99 } }
                             << QStringLiteral("已注册 10 家 · 已安装 8 家 · 可用 2 家 · 待登录 1 家 · 待配凭据 4 家");
    }

    void runtimeCountLine()
    {
        QFETCH(Counts, counts);
        QFETCH(QString, line);
        QCOMPARE(RuntimeSectionValues::runtimeCountLine(counts).value_or(QString()), line);
    }
};

QTEST_GUILESS_MAIN(TestRuntimeSectionValues)
#include "tst_RuntimeSectionValues.moc"
