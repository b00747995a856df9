#include "core/platform/SerialFileWriter.h"

#include <QFile>
#include <QMutex>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

class TestSerialFileWriter : public QObject {
    Q_OBJECT
private slots:
    void inOrderNewestLast();
    void replacesTheFile();
};

// Content handed in while a write is under way waits; of what waits only the
// newest is written, after the write under way and before anything later.
void TestSerialFileWriter::inOrderNewestLast()
{
    QMutex mutex;
    QByteArrayList landed;
    QSemaphore entered;
    QSemaphore gate;
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
    QCOMPARE(landed, (QByteArrayList { "1", "4" }));
    writer.write("5");
    writer.waitForIdle();
    QCOMPARE(landed, (QByteArrayList { "1", "4", "5" }));
}

// The default sink replaces the file whole, creating its folder; a writer's
// last content has landed once the writer is gone.
void TestSerialFileWriter::replacesTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/snapshot.json"));
    {
        SerialFileWriter writer(path);
        writer.write("{\"a\": 1}");
        writer.write("{}");
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("{}"));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden),
        QStringList { QStringLiteral("snapshot.json") });
}

QTEST_GUILESS_MAIN(TestSerialFileWriter)
#include "tst_SerialFileWriter.moc"
