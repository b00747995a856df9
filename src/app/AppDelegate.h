#pragma once

#include "core/runtimes/RuntimeChildRecord.h"

#include <QFuture>
#include <QList>
#include <QObject>

class QSocketNotifier;
class QTimer;

// The application's process-wide duties beside the window: ending the workers
// a crashed earlier run left behind once launching has finished, keeping the
// resident size to what is in use, and stopping every worker and one-shot
// tool run this run started before the process goes, whether the user closed
// the window, the process was asked to end with SIGTERM, SIGINT, SIGHUP or
// SIGQUIT, or it ends through exit() (the display connection lost).
// One per process; create it after the QCoreApplication.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Reaps orphaned workers off the GUI thread (each may take its grace to
    // end); a breadcrumb with the count when any were ended. From then on,
    // once a minute, the heap's free pages go back to the system.
    // When another program holds the ledger's lock, the reap is tried again
    // every reapRetryMs() until it gets to run.
    QFuture<QList<RuntimeChildRecord>> applicationDidFinishLaunching();
    // Hides every window, ends the one-shot companion-tool runs in flight
    // (with whatever they started; none starts from here on), stops every
    // worker and waits until each has ended (after its grace, a kill). Runs
    // once, on the way out.
    void applicationWillTerminate();
    // The same from an exit() that the event loop did not see coming (the
    // window system's plugin calls it when the display connection is lost):
    // no window is touched and nobody is told, the workers are stopped.
    void applicationWillExit();

    // SIGTERM, SIGINT, SIGHUP and SIGQUIT quit the event loop (through a
    // self-pipe, so the handler itself only writes one byte). A second SIGINT
    // or SIGQUIT, or one that comes while quitting, cuts every grace short (a
    // SIGTERM or SIGHUP does not: the system sends them in pairs). An exit() before
    // the loop has ended goes through applicationWillExit(). SIGPIPE (a write
    // to standard error once what read it has ended) ends nothing: the write
    // fails. False when the pipe could not be made.
    bool installQuitSignals();

    // Tests shorten the wait before a reap is tried again.
    void setReapRetryMs(int ms) { m_reapRetryMs = ms; }
    int reapRetryMs() const { return m_reapRetryMs; }

    // How long quitting waits, in all, for a ledger lock someone else holds.
    static constexpr int kLedgerWaitAtQuitMs = 3000;

signals:
    // A quit signal arrived; the application is quitting.
    void quitSignalReceived(int signal);

private:
    QFuture<QList<RuntimeChildRecord>> reap();
    void onSignalPipe();
    void hideWindows();
    static void installExitHook(bool late);

    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_heapTrim = nullptr;
    bool m_terminated = false;
    bool m_displayGone = false;
    int m_reapRetryMs = 30000;
};
