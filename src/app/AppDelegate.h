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
// the window or the process was asked to end with SIGTERM or SIGINT.
// One per process; create it after the QCoreApplication.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Reaps orphaned workers off the GUI thread (each may take its grace to
    // end); a breadcrumb with the count when any were ended. From then on,
    // once a minute, the heap's free pages go back to the system.
    QFuture<QList<RuntimeChildRecord>> applicationDidFinishLaunching();
    // Hides every window, ends the one-shot companion-tool runs in flight
    // (with whatever they started; none starts from here on), stops every
    // worker and waits until each has ended (after its grace, a kill). Runs
    // once, on the way out.
    void applicationWillTerminate();

    // SIGTERM and SIGINT quit the event loop (through a self-pipe, so the
    // handler itself only writes one byte). A second one, or one that comes
    // while quitting, cuts every grace short. False when the pipe could not be made.
    bool installQuitSignals();

signals:
    // A quit signal arrived; the application is quitting.
    void quitSignalReceived(int signal);

private:
    void onSignalPipe();
    void hideWindows();

    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_heapTrim = nullptr;
    bool m_terminated = false;
};
