#include "core/platform/TerminalLauncher.h"
#include "core/runtimes/RuntimeInstall.h"
#include "core/runtimes/RuntimeLogin.h"

#include "TempHome.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

RuntimeSetupInfo setup(const QString& method, const QString& package, const QString& uninstallMethod = {})
{
    RuntimeSetupInfo s;
    s.kind = QStringLiteral("x");
    s.installSupported = true;
    s.installMethod = method;
    s.installPackage = package;
    if (!uninstallMethod.isEmpty()) {
        s.uninstallSupported = true;
        s.uninstallMethod = uninstallMethod;
        s.uninstallPackage = package;
    }
    return s;
}

QString joined(const std::optional<QStringList>& v)
{
    return v ? v->join(QLatin1Char('|')) : QStringLiteral("<none>");
}

} // namespace

class TestRuntimeInstall : public QObject {
    Q_OBJECT
private slots:
    void vectors_data();
    void vectors();
    void unsupportedGivesNothing();
    void opensTerminalWithTheLine();
};

void TestRuntimeInstall::vectors_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("install");
    QTest::addColumn<QString>("uninstall");
    QTest::addColumn<QString>("reinstall");
    const auto add = [](const char* name, const QString& method, const QString& package, const QString& install,
                         const QString& uninstall, const QString& reinstall) {
        QTest::newRow(name) << method << package << install << uninstall << reinstall;
    };
    add("npm", "npm", "@openai/codex", "npm|install|-g|@openai/codex", "npm|uninstall|-g|@openai/codex",
        "sh|-lc|npm uninstall -g @openai/codex && npm install -g @openai/codex");
    add("npm, word needing quotes", "npm", "pkg; rm -rf ~", "npm|install|-g|pkg; rm -rf ~",
        "npm|uninstall|-g|pkg; rm -rf ~", "sh|-lc|npm uninstall -g 'pkg; rm -rf ~' && npm install -g 'pkg; rm -rf ~'");
    add("brew", "brew", "goose", "brew|install|goose", "<none>", "<none>");
    add("empty package", "npm", "", "<none>", "<none>", "<none>");
}

void TestRuntimeInstall::vectors()
{
    QFETCH(QString, method);
    QFETCH(QString, package);
    QFETCH(QString, install);
    QFETCH(QString, uninstall);
    QFETCH(QString, reinstall);
    const RuntimeSetupInfo s = setup(method, package, method);
    QCOMPARE(joined(RuntimeInstall::command(s)), install);
    QCOMPARE(joined(RuntimeInstall::uninstallCommand(s)), uninstall);
    QCOMPARE(joined(RuntimeInstall::reinstallCommand(s)), reinstall);
}

void TestRuntimeInstall::unsupportedGivesNothing()
{
    RuntimeSetupInfo s = setup(QStringLiteral("npm"), QStringLiteral("p"), QStringLiteral("npm"));
    s.installSupported = false;
    QVERIFY(!RuntimeInstall::command(s));
    QVERIFY(RuntimeInstall::uninstallCommand(s));
    QVERIFY(!RuntimeInstall::reinstallCommand(s));
    s.installMethod.reset();
    s.installSupported = true;
    QVERIFY(!RuntimeInstall::command(s));
}

// The line is built for a real shell: quotes, backslashes and "$" in the words
// and a space in the folder all go through it unchanged.
void TestRuntimeInstall::opensTerminalWithTheLine()
{
    TempHome home;
    // A stand-in terminal that runs what it is given, so the line's words can be checked.
    const QString out = home.filePath(QStringLiteral("terminal.out"));
    const QString term = home.writeFile(QStringLiteral("term.sh"),
        "#!/bin/sh\n[ \"$1\" = -e ] && shift\n\"$@\" > '" + out.toUtf8() + "' < /dev/null\n");
    QFile::setPermissions(term, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("TOLVARINE_TERMINAL", QFile::encodeName(term));
    const QString folder = home.filePath(QStringLiteral("my project"));
    QDir().mkpath(folder);

    QVERIFY(!RuntimeLogin::open({}, std::nullopt));
    QVERIFY(RuntimeLogin::open({ QStringLiteral("printf"), QStringLiteral("%s|%s|"), QStringLiteral("it's \"q\" \\b"),
                                   QStringLiteral("$HOME") },
        folder));
    QFile f(out);
    QTRY_VERIFY(f.exists() && f.size() > 0);
    QVERIFY(f.open(QIODevice::ReadOnly));
    // Every word arrives unchanged, nothing is expanded, and it ran in the folder.
    QCOMPARE(QString::fromUtf8(f.readAll()), QStringLiteral("it's \"q\" \\b|$HOME|"));
    qunsetenv("TOLVARINE_TERMINAL");
}

QTEST_GUILESS_MAIN(TestRuntimeInstall)
#include "tst_RuntimeInstall.moc"
