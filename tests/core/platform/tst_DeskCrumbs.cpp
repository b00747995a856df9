#include "core/platform/DeskCrumbs.h"

#include "TempHome.h"

#include <QFile>
#include <QRegularExpression>
#include <QtConcurrent>
#include <QtTest>

#include <sys/stat.h>

class TestDeskCrumbs : public QObject {
    Q_OBJECT
private slots:
    void firstLineCreatesFile();
    void appendsNeverTruncates();
    void readOnlyLogIsLeftAlone();
    void pipeInItsPlaceNeverBlocks();
    void concurrentLinesStayWhole();

private:
    static QByteArray readLog()
    {
        QFile f(DeskCrumbs::logPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

// The log is always the user's own: TOLVARINE_HOME does not move it.
void TestDeskCrumbs::firstLineCreatesFile()
{
    TempHome home;
    QTemporaryDir other;
    qputenv("TOLVARINE_HOME", QFile::encodeName(other.path()));
    QVERIFY(!QFile::exists(home.filePath(".tolvarine")));
    DeskCrumbs::drop(QStringLiteral("x"));
    QVERIFY(QFile::exists(home.filePath(".tolvarine/desktop.log")));
    QVERIFY(!QFile::exists(other.path() + "/.tolvarine/desktop.log"));
    const QByteArray log = readLog();
    QCOMPARE(log.size(), 15);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d x\\n$"))
                .match(QString::fromUtf8(log))
                .hasMatch());
}

void TestDeskCrumbs::appendsNeverTruncates()
{
    TempHome home;
    home.writeFile(".tolvarine/desktop.log", "earlier line\n");
    DeskCrumbs::drop(QString());
    DeskCrumbs::drop(QStringLiteral("runtime.start 工作区"));
    const QList<QByteArray> lines = readLog().split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QByteArray("earlier line"));
    QCOMPARE(lines[1].size(), 13); // stamp and a space
    QVERIFY(lines[2].endsWith(QStringLiteral(" runtime.start 工作区").toUtf8()));
    QVERIFY(lines[3].isEmpty());
}

void TestDeskCrumbs::readOnlyLogIsLeftAlone()
{
    if (::geteuid() == 0)
        QSKIP("root can write a read-only file");
    TempHome home;
    const QString p = home.writeFile(".tolvarine/desktop.log", "keep\n");
    QFile::setPermissions(p, QFileDevice::ReadOwner);
    DeskCrumbs::drop(QStringLiteral("lost"));
    QCOMPARE(readLog(), QByteArray("keep\n"));
}

// A named pipe with no reader where the log should be: the line is dropped at
// once instead of waiting for a reader (the GUI thread writes breadcrumbs).
void TestDeskCrumbs::pipeInItsPlaceNeverBlocks()
{
    TempHome home;
    const QString p = home.writeFile(".tolvarine/desktop.log", "");
    QVERIFY(QFile::remove(p));
    QCOMPARE(::mkfifo(QFile::encodeName(p).constData(), 0600), 0);
    DeskCrumbs::drop(QStringLiteral("x"));
    QFileInfo info(p);
    QVERIFY(!info.isFile() && info.exists());
}

void TestDeskCrumbs::concurrentLinesStayWhole()
{
    TempHome home;
    const QString payload(200, QLatin1Char('z'));
    QList<int> ids(400);
    std::iota(ids.begin(), ids.end(), 0);
    QtConcurrent::blockingMap(ids, [&](int i) { DeskCrumbs::drop(QString::number(i) + QLatin1Char(' ') + payload); });
    const QList<QByteArray> lines = readLog().split('\n');
    QCOMPARE(lines.size(), 401);
    for (int i = 0; i < 400; ++i)
        QVERIFY2(lines[i].endsWith(payload.toUtf8()) && lines[i].size() > 213, lines[i].constData());
}

QTEST_GUILESS_MAIN(TestDeskCrumbs)
#include "tst_DeskCrumbs.moc"
