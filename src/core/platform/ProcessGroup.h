#pragma once

#include <QDeadlineTimer>
#include <QMetaObject>

#include <chrono>
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

    // The child `leader` is running. False when the group must end at once
    // (it was cancelled first, or the application is quitting): the caller
    // ends it with stop(). Otherwise the group is live until leave().
    bool enter(pid_t leader);
    // The leader has exited: cancelling or quitting no longer ends the group.
    void leave();
    // Asks a live group to end (SIGTERM now, SIGKILL once the grace is over,
    // sent by whoever waits for the run); one not yet entered is refused.
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
    // Asks every live group to end, and refuses every group entered from now
    // on (for the rest of the process). The application's quit path calls it,
    // then waitForEnded().
    static void endAll();
    // Blocks until every group endAll() asked has ended, killing what is left
    // once the grace is over.
    static void waitForEnded();

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
