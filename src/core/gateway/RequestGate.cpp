#include "core/gateway/RequestGate.h"

#include <algorithm>

RequestGate& RequestGate::shared()
{
    // Never destroyed: a pass may outlive every other object of the process.
    static RequestGate* gate = new RequestGate;
    return *gate;
}

void RequestGate::Pass::release()
{
    if (RequestGate* gate = std::exchange(m_gate, nullptr))
        gate->leave(m_key, m_priority);
}

bool RequestGate::mayStart(const Line& line, Priority priority) const
{
    if (line.inFlight >= kInFlight)
        return false;
    return priority == Priority::Status || line.polls < kPollSlots;
}

void RequestGate::take(Line& line, Priority priority)
{
    ++line.inFlight;
    if (priority == Priority::Poll)
        ++line.polls;
}

QCoro::Task<RequestGate::Pass> RequestGate::enter(
    QString gateway, Priority priority, QObject* owner, QObject* requester)
{
    Line& line = m_lines[gateway];
    // A status read waits only for places, never behind polls.
    const bool queued = priority == Priority::Status ? !line.status.empty() : !line.waitingPolls.empty();
    if (!queued && mayStart(line, priority)) {
        take(line, priority);
        co_return Pass(this, gateway, priority);
    }
    Waiter waiter { priority, owner, requester, {} };
    (priority == Priority::Status ? line.status : line.waitingPolls).push_back(&waiter);
    watch(owner);
    watch(requester);
    co_await Awaiter { &waiter };
    if (!waiter.granted)
        co_return Pass();
    co_return Pass(this, gateway, priority);
}

void RequestGate::leave(const QString& gateway, Priority priority)
{
    const auto it = m_lines.find(gateway);
    if (it == m_lines.end())
        return;
    --it->inFlight;
    if (priority == Priority::Poll)
        --it->polls;
    m_freed.insert(gateway);
    // A request resumed here may end at once and give its place back: the
    // outer call goes on granting, so the stack stays flat.
    if (m_granting)
        return;
    m_granting = true;
    while (!m_freed.isEmpty()) {
        const QString key = *m_freed.cbegin();
        m_freed.erase(m_freed.cbegin());
        for (;;) {
            // Looked up afresh: a resumed request may have added another gateway's line.
            const auto line = m_lines.find(key);
            if (line == m_lines.end())
                break;
            std::deque<Waiter*>* queue = nullptr;
            if (!line->status.empty() && mayStart(*line, Priority::Status))
                queue = &line->status;
            else if (!line->waitingPolls.empty() && mayStart(*line, Priority::Poll))
                queue = &line->waitingPolls;
            if (!queue) {
                if (line->inFlight == 0 && line->status.empty() && line->waitingPolls.empty())
                    m_lines.erase(line);
                break;
            }
            Waiter* next = queue->front();
            queue->pop_front();
            take(*line, next->priority);
            next->granted = true;
            next->handle.resume();
        }
    }
    m_granting = false;
}

void RequestGate::watch(QObject* object)
{
    if (!object || m_watched.contains(object))
        return;
    m_watched.insert(object);
    // `destroyed` comes after the object's QPointers are cleared: each waiter
    // resumes, finds its owner or requester gone and ends.
    connect(object, &QObject::destroyed, this, [this, object] { drop(object); });
}

void RequestGate::drop(QObject* gone)
{
    m_watched.remove(gone);
    std::vector<Waiter*> dropped;
    for (Line& line : m_lines) {
        for (std::deque<Waiter*>* queue : { &line.status, &line.waitingPolls }) {
            const auto kept = std::stable_partition(queue->begin(), queue->end(),
                [gone](const Waiter* w) { return w->owner != gone && w->requester != gone; });
            dropped.insert(dropped.end(), kept, queue->end());
            queue->erase(kept, queue->end());
        }
    }
    for (Waiter* waiter : dropped)
        waiter->handle.resume();
}

int RequestGate::inFlight(const QString& gateway) const
{
    return m_lines.value(gateway).inFlight;
}

int RequestGate::waiting(const QString& gateway, Priority priority) const
{
    const Line line = m_lines.value(gateway);
    return int(priority == Priority::Status ? line.status.size() : line.waitingPolls.size());
}
