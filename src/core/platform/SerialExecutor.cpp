#include "core/platform/SerialExecutor.h"

#include "core/platform/OffMainThread.h"

#include <QMutex>
#include <QWaitCondition>

#include <deque>

struct SerialExecutor::State {
    mutable QMutex mutex;
    QWaitCondition idle;
    std::deque<std::function<void()>> jobs;
    bool busy = false;

    // Runs on the pool until the queue is empty; only one runs per executor at a time.
    void drain()
    {
        for (;;) {
            std::function<void()> job;
            {
                const QMutexLocker lock(&mutex);
                if (jobs.empty()) {
                    busy = false;
                    idle.wakeAll();
                    return;
                }
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            job();
        }
    }
};

SerialExecutor::SerialExecutor()
    : m_state(std::make_shared<State>())
{
}

void SerialExecutor::enqueue(std::function<void()> job)
{
    {
        const QMutexLocker lock(&m_state->mutex);
        m_state->jobs.push_back(std::move(job));
        if (m_state->busy)
            return;
        m_state->busy = true;
    }
    // The drain holds the state, not the executor.
    offMainThreadPool()->start([state = m_state] { state->drain(); });
}

void SerialExecutor::waitForIdle() const
{
    const QMutexLocker lock(&m_state->mutex);
    while (m_state->busy)
        m_state->idle.wait(&m_state->mutex);
}

bool SerialExecutor::busy() const
{
    const QMutexLocker lock(&m_state->mutex);
    return m_state->busy;
}
