#include "core/platform/PendingCall.h"

#include <QtTest>

class TestPendingCall : public QObject {
    Q_OBJECT
private slots:
    void runsOnceLater_data()
    {
        QTest::addColumn<int>("requests");
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<int>("runs");
        QTest::newRow("one request") << 1 << false << 1;
        QTest::newRow("many requests, one run") << 5 << false << 1;
        QTest::newRow("cancelled") << 3 << true << 0;
    }

    void runsOnceLater()
    {
        QFETCH(int, requests);
        QFETCH(bool, cancelled);
        QFETCH(int, runs);
        QObject owner;
        int count = 0;
        auto* call = new PendingCall(&owner, [&count] { ++count; });
        for (int i = 0; i < requests; ++i)
            call->request();
        QCOMPARE(count, 0); // never inside the request
        QVERIFY(call->isPending());
        if (cancelled)
            call->cancel();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(count, runs);
        QVERIFY(!call->isPending());
    }

    // A change that lands while the run is under way is not lost.
    void requestDuringRunRunsAgain()
    {
        QObject owner;
        int count = 0;
        PendingCall* call = nullptr;
        call = new PendingCall(&owner, [&] {
            if (++count == 1)
                call->request();
        });
        call->request();
        QTRY_COMPARE(count, 2);
        QCoreApplication::processEvents();
        QCOMPARE(count, 2);
    }

    void goesWithItsOwner()
    {
        int count = 0;
        {
            QObject owner;
            auto* call = new PendingCall(&owner, [&count] { ++count; });
            call->request();
        }
        QCoreApplication::processEvents();
        QCOMPARE(count, 0);
    }
};

QTEST_GUILESS_MAIN(TestPendingCall)
#include "tst_PendingCall.moc"
