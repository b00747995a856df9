#include "core/workforce/RuntimeName.h"
#include "core/workforce/RuntimeServingMap.h"

#include <QtTest>

namespace {

CommandBrief command(const QString& id, const QString& status, const QString& runtime, const QString& employee = {},
    std::optional<QDateTime> completed = std::nullopt, const QString& text = {})
{
    CommandBrief c;
    c.id = id;
    c.text = text.isEmpty() ? QStringLiteral("task ") + id : text;
    c.status = status;
    c.ranRuntime = runtime;
    c.employeeID = employee;
    c.completedAt = completed;
    return c;
}

TeammateBrief teammate(const QString& id, const QString& name)
{
    TeammateBrief t;
    t.id = id;
    t.name = name;
    return t;
}

QDateTime at(int minute)
{
    return QDateTime(QDate(2026, 5, 1), QTime(10, minute), QTimeZone::utc());
}

} // namespace

class TestRuntimeNames : public QObject {
    Q_OBJECT
private slots:
    void friendly_data();
    void friendly();
    void serving();
    void servingKeysAndNames();
};

void TestRuntimeNames::friendly_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("withCatalog");
    QTest::addColumn<QString>("name");
    QTest::newRow("padded gateway id") << " \tclaude-code  " << false << "Claude Code";
    QTest::newRow("catalogue wins") << "claude-code" << true << "Claude (local)";
    QTest::newRow("blanks only") << QStringLiteral(" \t\u3000 ") << false << "";
    QTest::newRow("line break is not a blank") << "codex\n" << false << "codex\n";
}

void TestRuntimeNames::friendly()
{
    QFETCH(QString, id);
    QFETCH(bool, withCatalog);
    QFETCH(QString, name);
    RuntimeCatalog catalog;
    if (withCatalog)
        catalog.insert(QStringLiteral("claude"), QStringLiteral("Claude (local)"));
    QCOMPARE(RuntimeName::friendly(id, catalog), name);
}

void TestRuntimeNames::serving()
{
    const QList<TeammateBrief> team { teammate("e1", "Ada"), teammate("e2", "Bo"), teammate("e1", "Shadow") };
    const QList<CommandBrief> commands {
        command("c1", "done", "claude-code", "e1", at(1)),
        command("c2", "claimed", "claude-code", "e2"),
        command("c3", "failed", "codex", "e1", at(2)),
        command("c4", "done", "codex", "e2", at(5)),
        command("c5", "unsupported", "codex", "", std::nullopt),
        command("c6", "claimed", "", "e1"),
        command("c7", "pending", "gemini-cli", "e1"),
        command("c8", "claimed", "claude-code", "ghost"),
        command("c9", "dependency_failed", "gemini-cli", "e2"),
        command("c10", "done", "kimi-code", "e1"),
        command("c11", "done", "kimi-code", "e2"),
    };
    const auto map = RuntimeServingMap::build(commands, team, {});

    QCOMPARE(map.size(), 4);
    // Running work hides the older finished one; every running command is listed.
    QCOMPARE(map.value("claude"),
        QList<RuntimeServing>({ { QString("Bo"), "task c2", true }, { std::nullopt, "task c8", true } }));
    QCOMPARE(map.value("claude").at(1).id(), QStringLiteral("-|task c8|true"));
    // Only finished: the newest alone.
    QCOMPARE(map.value("codex"), QList<RuntimeServing>({ { QString("Bo"), "task c4", false } }));
    QCOMPARE(map.value("gemini"), QList<RuntimeServing>({ { QString("Bo"), "task c9", false } }));
    // Equal (missing) times keep command-list order; the first teammate of an id wins.
    QCOMPARE(map.value("kimi"), QList<RuntimeServing>({ { QString("Ada"), "task c10", false } }));
}

void TestRuntimeNames::servingKeysAndNames()
{
    const QList<TeammateBrief> team { teammate("e1", "Ada") };
    const QList<CommandBrief> commands {
        command("a", "claimed", " Claude-Code ", "e1", std::nullopt, "same"),
        command("b", "claimed", "claude", "e1", std::nullopt, "same"),
        command("c", "claimed", "My-Agent", "e1"),
        command("d", "claimed", "   ", "e1"),
    };
    const auto map = RuntimeServingMap::build(commands, team, { { "claude", "Named" } });
    QCOMPARE(map.keys().size(), 2);
    const auto claude = map.value("claude");
    QCOMPARE(claude.size(), 2);
    QCOMPARE(claude[0].id(), claude[1].id());
    QCOMPARE(claude[0].id(), QStringLiteral("Ada|same|true"));
    QCOMPARE(map.value("my-agent").size(), 1);
}

QTEST_GUILESS_MAIN(TestRuntimeNames)
#include "tst_RuntimeNames.moc"
