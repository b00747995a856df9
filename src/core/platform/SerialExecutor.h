#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QFuture>
#include <QPromise>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

// Runs blocking jobs off the GUI thread one at a time, in the order they were
// handed in, on the off-main pool (a job never overlaps the one before it).
// Whatever must not interleave (two writes of one file, two calls into the
// key store) goes through the same executor.
class SerialExecutor {
public:
    SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    // Queues `job`; the future holds its result once it has run.
    template <typename F> auto run(F job) -> QFuture<std::invoke_result_t<F>>
    {
        using R = std::invoke_result_t<F>;
        auto promise = std::make_shared<QPromise<R>>();
        QFuture<R> future = promise->future();
        promise->start();
        enqueue([promise, job = std::move(job)]() mutable {
            if constexpr (std::is_void_v<R>)
                job();
            else
                promise->addResult(job());
            promise->finish();
        });
        return future;
    }

    // The same, awaited: resumes the awaiting coroutine (whose thread needs a
    // running event loop) with the job's result.
    template <typename F> auto task(F job) -> QCoro::Task<std::invoke_result_t<F>>
    {
        using R = std::invoke_result_t<F>;
        QFuture<R> future = run(std::move(job));
        if constexpr (std::is_void_v<R>) {
            co_await future;
        } else {
            R result = co_await future;
            co_return result;
        }
    }

    // Blocks until every job handed in has run (tests, quitting).
    void waitForIdle() const;
    // Whether a job handed in has yet to finish.
    bool busy() const;

private:
    struct State;
    void enqueue(std::function<void()> job);

    std::shared_ptr<State> m_state;
};
