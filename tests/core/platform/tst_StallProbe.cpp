#include "StallProbe.h"

#include <QFile>
#include <QThread>
#include <QtTest>

#include <ctime>

// The probe the window tests hold the GUI thread to: a wait is caught by the
// blocked time, long work by the turn time, and an idle loop by neither.
class TestStallProbe : public QObject {
    Q_OBJECT
private slots:
    void catches_data();
    void catches();
};

namespace {

enum class Turn { Idle, Wait, Work };

void run(Turn turn)
{
    if (turn == Turn::Wait)
        QThread::msleep(300);
    // Work, measured in this thread's own time: a busy machine may hand it
    // out slowly.
    if (turn == Turn::Work) {
        const auto cpuMs = [] {
            timespec t {};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
            return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
        };
        const qint64 until = cpuMs() + qint64(StallProbe::kTurnLimitMs) + 300;
        while (cpuMs() < until) { }
    }
}

} // namespace

void TestStallProbe::catches_data()
{
    QTest::addColumn<int>("turn");
    QTest::addColumn<QString>("failure"); // how the failure starts; empty: none
    QTest::addColumn<bool>("blocked");
    QTest::newRow("idle") << int(Turn::Idle) << QString() << false;
    QTest::newRow("a wait") << int(Turn::Wait) << QStringLiteral("stalled ") << true;
    // A layout or decode of seconds blocks nothing, and still holds the window up.
    QTest::newRow("long work") << int(Turn::Work) << QStringLiteral("one turn of the event loop took ") << false;
}

void TestStallProbe::catches()
{
    QFETCH(int, turn);
    QFETCH(QString, failure);
    QFETCH(bool, blocked);
    // Without the kernel's scheduler statistics all of a gap counts as blocked.
    if (Turn(turn) == Turn::Work && !QFile::exists(QStringLiteral("/proc/thread-self/schedstat")))
        QSKIP("no scheduler statistics on this machine");
    StallProbe probe;
    QTest::qWait(50);
    QTimer::singleShot(0, this, [turn] { run(Turn(turn)); });
    QTest::qWait(100);
    const std::optional<QString> found = probe.failure();
    QCOMPARE(found.value_or(QString()).left(failure.size()), failure);
    QCOMPARE(found.has_value(), !failure.isEmpty());
    QCOMPARE(probe.worstMs() > StallProbe::kBlockedLimitMs, blocked);
}

QTEST_GUILESS_MAIN(TestStallProbe)
#include "tst_StallProbe.moc"
