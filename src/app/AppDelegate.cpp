#include "app/AppDelegate.h"

#include "core/platform/ProcessGroup.h"
#include "core/runtimes/RuntimeChildLedger.h"
#include "core/runtimes/RuntimeController.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>
#include <QtConcurrent>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <unistd.h>

namespace {

// [0] read end (GUI thread), [1] write end (signal handler). Process-wide,
// because a signal handler can reach nothing else.
int g_signalPipe[2] = { -1, -1 };
// Quit signals received so far, and whether quitting has begun (by any road).
std::atomic<int> g_quitSignals { 0 };
std::atomic<bool> g_quitting { false };
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);
// The delegate the exit hook stops the workers through, while it lives.
AppDelegate* g_delegate = nullptr;

// Every road out that a signal takes: a session's end (SIGTERM), a terminal's
// Ctrl-C (SIGINT) and Ctrl-\ (SIGQUIT), a closed terminal or a logout (SIGHUP).
constexpr int kQuitSignals[] = { SIGTERM, SIGINT, SIGHUP, SIGQUIT };

// The process ends through exit() without the event loop ending first: the
// display connection was lost (the window system's plugin then calls exit()),
// or a library gave up. The workers are stopped all the same; the windows are
// left alone, since their display may be gone.
void onExit()
{
    // Only on the thread the workers live on (the window system's plugin
    // calls exit() there); from another thread nothing of theirs may be touched.
    if (g_delegate && !g_quitting.load() && QThread::currentThread() == g_delegate->thread())
        g_delegate->applicationWillExit();
}

// A write to a pipe nobody reads any more (standard error, when what the
// application was started into has ended) is no road out: it fails, and the
// application goes on. A handler rather than SIG_IGN, which every worker
// would inherit through exec.
void onBrokenPipe(int) { }

void onQuitSignal(int signal)
{
    const int saved = errno;
    // Asked again from the keyboard (Ctrl-C, Ctrl-\) while the workers have
    // their grace, or before the first ask was even seen: the user will not
    // wait, so nothing gets a grace any more. The system's asks come in pairs
    // and are no such hurry: a session's end sends SIGTERM with SIGHUP, and a
    // closed terminal's SIGHUP may come again from a shell that passes it on.
    const bool again = g_quitSignals.fetch_add(1) > 0 || g_quitting.load();
    if (again && (signal == SIGINT || signal == SIGQUIT))
        ProcessGroup::cutGraceShort();
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
{
    // The window's close quits the application (last window closed), and so
    // does a quit signal; both pass through here before the process ends.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &AppDelegate::applicationWillTerminate);
    g_delegate = this;
}

AppDelegate::~AppDelegate()
{
    if (g_delegate == this)
        g_delegate = nullptr;
    if (m_notifier) {
        struct sigaction dfl { };
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        for (const int signal : kQuitSignals)
            ::sigaction(signal, &dfl, nullptr);
        // SIGPIPE keeps its empty handler: a warning written to a closed
        // standard error while the statics go must not end the process.
        delete m_notifier;
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
}

QFuture<QList<RuntimeChildRecord>> AppDelegate::applicationDidFinishLaunching()
{
#if defined(__GLIBC__)
    // Replies are read and dropped on pool threads for as long as the window
    // stays open, and glibc keeps the pages they freed in its arenas: the
    // resident size creeps up by megabytes an hour though nothing is held.
    // Once a minute those free pages go back to the system, off the GUI thread.
    if (!m_heapTrim) {
        m_heapTrim = new QTimer(this);
        m_heapTrim->setInterval(std::chrono::minutes(1));
        connect(
            m_heapTrim, &QTimer::timeout, this, [] { QThreadPool::globalInstance()->start([] { malloc_trim(0); }); });
        m_heapTrim->start();
    }
#endif
    QFuture<QList<RuntimeChildRecord>> reaped = reap();
    // Registered again now that the pools and the ledger's writer are in use:
    // the exit hook then runs before their statics go.
    installExitHook(true);
    return reaped;
}

QFuture<QList<RuntimeChildRecord>> AppDelegate::reap()
{
    const qint32 pid = qint32(QCoreApplication::applicationPid());
    auto lockHeld = std::make_shared<std::atomic<bool>>(false);
    QFuture<QList<RuntimeChildRecord>> reaped = QtConcurrent::run([pid, lockHeld] {
        bool held = false;
        QList<RuntimeChildRecord> out = RuntimeChildLedger::reapAtLaunch(pid, &held);
        lockHeld->store(held);
        return out;
    });
    // Another program held the ledger's lock: nothing was reaped, and the
    // reap is tried again later in the session. (A watcher this object owns:
    // it goes with it, where a continuation would outlive it.)
    auto* watcher = new QFutureWatcher<QList<RuntimeChildRecord>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, lockHeld] {
        watcher->deleteLater();
        if (lockHeld->load() && !m_terminated)
            QTimer::singleShot(m_reapRetryMs, this, [this] {
                if (!m_terminated)
                    reap();
            });
    });
    watcher->setFuture(reaped);
    return reaped;
}

void AppDelegate::installExitHook(bool late)
{
    // Once early (with the quit signals) and once late: exit() runs the hook
    // registered last first, and with it the statics made before it are still there.
    static bool early = false;
    static bool lateDone = false;
    bool& done = late ? lateDone : early;
    if (!done && std::atexit(onExit) == 0)
        done = true;
}

void AppDelegate::applicationWillExit()
{
    if (m_terminated)
        return;
    // Whoever listens may be drawing on a display that is gone: nobody is
    // told, and what the workers still print is dropped.
    RuntimeController& runtimes = RuntimeController::shared();
    const QSignalBlocker quiet(&runtimes);
    runtimes.dropOutput();
    m_displayGone = true;
    applicationWillTerminate();
}

void AppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    g_quitting.store(true);
    // The windows go first, on every road out (a closed window, a quit
    // signal, the session ending): the waits below then hold up nothing on
    // screen.
    if (!m_displayGone)
        hideWindows();
    // One-shot companion-tool runs still in flight end with their whole group,
    // and workers with theirs: every one gets SIGTERM at once, and the waits
    // for their ends (each grace, then SIGKILL) happen on the way out, when
    // there is no window left to hold up.
    ProcessGroup::endAll();
    // A ledger lock that another program holds keeps the way out waiting a
    // few seconds in all, not a wait per write.
    RuntimeChildLedger::endLockWaitsBy(QDeadlineTimer(kLedgerWaitAtQuitMs));
    RuntimeController& runtimes = RuntimeController::shared();
    runtimes.stopAll();
    runtimes.waitForStopped();
    ProcessGroup::waitForEnded();
}

void AppDelegate::hideWindows()
{
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!gui || gui->topLevelWindows().isEmpty())
        return;
    for (QWindow* window : gui->topLevelWindows())
        window->hide();
    // A hidden window leaves the screen once the window system has been
    // told, which otherwise happens only when the event loop next waits: the
    // waits below would keep the last frame up for their whole grace.
    QGuiApplication::sync();
}

bool AppDelegate::installQuitSignals()
{
    if (m_notifier)
        return true;
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    g_quitSignals.store(0);
    g_quitting.store(m_terminated);
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &AppDelegate::onSignalPipe);

    struct sigaction action { };
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kQuitSignals)
        ::sigaction(signal, &action, nullptr);
    action.sa_handler = onBrokenPipe;
    ::sigaction(SIGPIPE, &action, nullptr);
    installExitHook(false);
    return true;
}

void AppDelegate::onSignalPipe()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(g_signalPipe[0], &byte, 1) == 1)
        last = byte;
    if (last == 0)
        return;
    emit quitSignalReceived(last);
    // Workers are stopped before the loop ends, not after a later event.
    applicationWillTerminate();
    QCoreApplication::quit();
}
