#include "core/platform/SerialExecutor.h"

#include <QCoroTask>
#include <QMutex>
#include <QThread>
#include <QtTest>

#include <atomic>

// Jobs handed to one executor never overlap and run in the order given, also
// when they come from several threads' worth of pool work at once.
class TestSerialExecutor : public QObject {
    Q_OBJECT
private slots:
    void oneAtATimeInOrder();
};

void TestSerialExecutor::oneAtATimeInOrder()
{
    SerialExecutor queue;
    QMutex mutex;
    QList<int> order;
    std::atomic<int> running { 0 };
    std::atomic<int> overlaps { 0 };
    QList<QFuture<int>> futures;
    for (int i = 0; i < 40; ++i) {
        futures.append(queue.run([&, i] {
            if (running.fetch_add(1) != 0)
                ++overlaps;
            // Long enough for a second pool thread to pick up the next job, were it allowed to.
            QThread::usleep(500);
            {
                const QMutexLocker lock(&mutex);
                order.append(i);
            }
            running.fetch_sub(1);
            return i * i;
        }));
    }
    // Awaited from a coroutine too.
    auto last = queue.task([&] { return int(order.size()); });
    QCOMPARE(QCoro::waitFor(std::move(last)), 40);
    queue.waitForIdle();
    QCOMPARE(overlaps.load(), 0);
    QList<int> expected;
    for (int i = 0; i < 40; ++i) {
        expected.append(i);
        QCOMPARE(futures.at(i).result(), i * i);
    }
    QCOMPARE(order, expected);
}

QTEST_GUILESS_MAIN(TestSerialExecutor)
#include "tst_SerialExecutor.moc"
