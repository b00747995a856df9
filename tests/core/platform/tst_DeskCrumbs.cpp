// Files written behind the user's back: the breadcrumb log and the serial
// writer of stored snapshots. Neither may lose, tear or block.
#include "core/platform/DeskCrumbs.h"
#include "core/platform/SerialFileWriter.h"

#include "TempHome.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QSemaphore>
#include <QtConcurrent>
#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray readLog()
{
    return readFile(DeskCrumbs::logPath());
}

} // namespace

class TestDeskCrumbs : public QObject {
    Q_OBJECT
private slots:
    // Lines are stamped and appended, never truncating what is there. The log
    // is always the user's own: TOLVARINE_HOME does not move it.
    void appendsStampedLines()
    {
        TempHome home;
        QTemporaryDir other;
        qputenv("TOLVARINE_HOME", QFile::encodeName(other.path()));
        home.writeFile(".tolvarine/desktop.log", "earlier line\n");
        DeskCrumbs::drop(QString());
        DeskCrumbs::drop(QStringLiteral("runtime.start 工作区 http://me:pw@gw:1"));
        QVERIFY(!QFile::exists(other.path() + "/.tolvarine/desktop.log"));
        const QList<QByteArray> lines = readFile(home.filePath(".tolvarine/desktop.log")).split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QByteArray("earlier line"));
        QVERIFY2(
            QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d $").match(QString::fromUtf8(lines[1])).hasMatch(),
            lines[1].constData());
        QVERIFY(lines[2].endsWith(QStringLiteral(" runtime.start 工作区 http://***@gw:1").toUtf8()));
    }

    void readOnlyLogIsLeftAlone()
    {
        if (::geteuid() == 0)
            QSKIP("root can write a read-only file");
        TempHome home;
        QFile::setPermissions(home.writeFile(".tolvarine/desktop.log", "keep\n"), QFileDevice::ReadOwner);
        DeskCrumbs::drop(QStringLiteral("lost"));
        QCOMPARE(readLog(), QByteArray("keep\n"));
    }

    // A named pipe with no reader where the log should be: the line is dropped at
    // once instead of waiting for a reader (the GUI thread writes breadcrumbs).
    void pipeInItsPlaceNeverBlocks()
    {
        TempHome home;
        const QString p = home.writeFile(".tolvarine/desktop.log", "");
        QVERIFY(QFile::remove(p));
        QCOMPARE(::mkfifo(QFile::encodeName(p).constData(), 0600), 0);
        DeskCrumbs::drop(QStringLiteral("x"));
        QFileInfo info(p);
        QVERIFY(!info.isFile() && info.exists());
    }

    void concurrentLinesStayWhole()
    {
        TempHome home;
        const QString payload(200, QLatin1Char('z'));
        QList<int> ids(400);
        std::iota(ids.begin(), ids.end(), 0);
        QtConcurrent::blockingMap(
            ids, [&](int i) { DeskCrumbs::drop(QString::number(i) + QLatin1Char(' ') + payload); });
        const QList<QByteArray> lines = readLog().split('\n');
        QCOMPARE(lines.size(), 401);
        for (int i = 0; i < 400; ++i)
            QVERIFY2(lines[i].endsWith(payload.toUtf8()) && lines[i].size() > 213, lines[i].constData());
    }

    // Content handed in while a write is under way waits; of what waits only the
    // newest is written, after the write under way and before anything later.
    void serialWriterInOrderNewestLast()
    {
        QMutex mutex;
        QByteArrayList landed;
        QSemaphore entered, gate;
        SerialFileWriter writer(QStringLiteral("unused"), [&](const QString&, const QByteArray& bytes) {
            entered.release();
            if (bytes == "1")
                gate.acquire();
            const QMutexLocker lock(&mutex);
            landed.append(bytes);
        });
        writer.write("1");
        QVERIFY(entered.tryAcquire(1, 10000));
        for (const char* bytes : { "2", "3", "4" })
            writer.write(bytes);
        gate.release();
        writer.waitForIdle();
        writer.write("5");
        writer.waitForIdle();
        QCOMPARE(landed, (QByteArrayList { "1", "4", "5" }));
    }

    // The default sink replaces the file whole, creating its folder; a writer's
    // last content has landed once the writer is gone.
    void serialWriterReplacesTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sub/snapshot.json"));
        {
            SerialFileWriter writer(path);
            writer.write("{\"a\": 1}");
            writer.write("{}");
        }
        QCOMPARE(readFile(path), QByteArray("{}"));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden),
            QStringList { QStringLiteral("snapshot.json") });
    }
};

QTEST_GUILESS_MAIN(TestDeskCrumbs)
#include "tst_DeskCrumbs.moc"
