#pragma once

#include <QDeadlineTimer>
#include <QList>
#include <QMetaObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

class QObject;
class QProcess;

// The process group of one one-shot child (a companion-tool run, the login
// shell's PATH query). The child becomes the leader of a group of its own
// before it executes, so whatever it starts belongs to that group, and ending
// the group leaves nothing behind. A group is ended when its run hits its time
// limit, when the object awaiting it goes away (cancel), and when the
// application quits (endAll): SIGTERM to every member, the grace, then SIGKILL
// to whatever of it is left, as workers are stopped, so that a tool writing
// state gets to finish its write. A child that exits by itself leaves its
// group alone, so a service it started on purpose stays.
// Thread-safe: a run waits on a pool thread, while cancellation and quitting
// come from the GUI thread.
class ProcessGroup {
public:
    // Between SIGTERM and SIGKILL.
    static constexpr std::chrono::milliseconds kGrace { std::chrono::seconds(3) };

    ProcessGroup() = default;
    ~ProcessGroup();
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;

    // Makes `process` start its child as the leader of a new group.
    static void prepare(QProcess& process);

    // Starts `process` (made ready by prepare()) as the leader of this group,
    // unless the group was cancelled or the application is quitting: then
    // nothing starts and the answer is false. A started group is live until
    // leave(). The check and the start are one step for endAll(): quitting
    // either finds the group live, and ends it, or keeps it from starting.
    bool start(QProcess& process);
    // The leader has exited: cancelling or quitting no longer ends the group.
    void leave();
    // Asks a live group to end (SIGTERM now, SIGKILL once the grace is over,
    // sent by whoever waits for the run); one not yet started never starts.
    void cancel();
    // Whether cancel() or endAll() reached this group.
    bool cancelled() const;
    // Asks the group to end if nothing has yet (SIGTERM to every member) and
    // returns when the grace given by the first ask is over.
    QDeadlineTimer stop();

    // SIGKILL to every process in the group led by `leader`.
    static void end(pid_t leader);
    // Whether any process of the group led by `leader` still runs.
    static bool anyLeft(pid_t leader);
    // Asks every live group to end, and refuses every group started from now
    // on (for the rest of the process). The application's quit path calls it,
    // then waitForEnded().
    static void endAll();
    // Blocks until every group endAll() asked has ended, killing what is left
    // once the grace is over.
    static void waitForEnded();

    // A process, or the group it leads, that has been sent SIGTERM, and when
    // SIGKILL is due.
    struct Ending {
        pid_t pid = 0;
        // The whole group `pid` leads ends, not only `pid`.
        bool group = false;
        QDeadlineTimer killAt;
        // On the ones awaitEnded() killed: `pid` itself was still there, not
        // only others of its group.
        bool pidLeft = false;
    };
    // The one wait between SIGTERM and SIGKILL: blocks until each has ended
    // (a zombie counts as ended) or its grace is over, sends SIGKILL to what
    // is left of each once its grace is over, and gives that a second to
    // take. `pause` waits up to the given milliseconds between looks (a plain
    // sleep when not given; a caller may read its child's output meanwhile).
    // Returns the ones that had to be killed.
    static QList<Ending> awaitEnded(const QList<Ending>& endings, const std::function<void(int)>& pause = {});
    // Cuts every grace short, also the ones being waited for: whatever is
    // left gets SIGKILL at once. For the rest of the process. Safe to call
    // from a signal handler (a second quit signal: the user will not wait).
    static void cutGraceShort();
    // Whether cutGraceShort() was called: every other wait for a grace ends too.
    static bool graceIsCut();

    // Ties a new group to the object awaiting its run: when `owner` is
    // destroyed while the scope lives, the group is cancelled. With no owner
    // the group is only ended by its time limit or by quitting. Create and
    // destroy it on the owner's thread.
    class Scope {
    public:
        explicit Scope(const QObject* owner);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

        const std::shared_ptr<ProcessGroup>& group() const { return m_group; }

    private:
        std::shared_ptr<ProcessGroup> m_group;
        QMetaObject::Connection m_link;
    };

private:
    // SIGTERM to the group, once; the registry's lock is held.
    void askLocked();

    pid_t m_leader = 0;
    bool m_cancelled = false;
    // Set by the first ask to end: when SIGKILL is due.
    std::optional<QDeadlineTimer> m_killAt;
};
