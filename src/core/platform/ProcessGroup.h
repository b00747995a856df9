#pragma once

#include <QMetaObject>

#include <memory>

#include <sys/types.h>

class QObject;
class QProcess;

// The process group of one one-shot child (a companion-tool run, the login
// shell's PATH query). The child becomes the leader of a group of its own
// before it executes, so whatever it starts belongs to that group, and ending
// the group (SIGKILL to every member) leaves nothing behind. A group is ended
// when its run hits its time limit, when the object awaiting it goes away
// (cancel), and when the application quits (endAll); a child that exits by
// itself leaves its group alone, so a service it started on purpose stays.
// Thread-safe: a run waits on a pool thread, while cancellation and quitting
// come from the GUI thread.
class ProcessGroup {
public:
    ProcessGroup() = default;
    ~ProcessGroup();
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;

    // Makes `process` start its child as the leader of a new group.
    static void prepare(QProcess& process);

    // The child `leader` is running. False when the group must end at once
    // (it was cancelled first, or the application is quitting): the caller
    // ends it with end(). Otherwise the group is live until leave().
    bool enter(pid_t leader);
    // The leader has exited: cancelling or quitting no longer ends the group.
    void leave();
    // Ends the group if it is live; a group not yet entered is refused.
    void cancel();
    // Whether cancel() or endAll() reached this group.
    bool cancelled() const;

    // SIGKILL to every process in the group led by `leader`.
    static void end(pid_t leader);
    // Ends every live group, and refuses every group entered from now on (for
    // the rest of the process). The application's quit path calls it.
    static void endAll();

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
    pid_t m_leader = 0;
    bool m_cancelled = false;
};
