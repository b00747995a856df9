#pragma once

#include <QCoroFuture>
#include <QCoroTask>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>
#include <utility>

// The pool on which blocking jobs (companion-tool runs, agent probes) wait, so
// that a slow child never holds up the GUI thread or Qt's global pool.
QThreadPool* offMainThreadPool();

// Runs a blocking job on `pool` and resumes the awaiting coroutine with its
// result. The awaiting thread needs a running event loop.
template <typename F> auto offMainThread(QThreadPool* pool, F job) -> QCoro::Task<std::invoke_result_t<F>>
{
    using R = std::invoke_result_t<F>;
    QFuture<R> future = QtConcurrent::run(pool, std::move(job));
    if constexpr (std::is_void_v<R>) {
        co_await future;
    } else {
        R result = co_await future;
        co_return result;
    }
}

// The same on offMainThreadPool().
template <typename F> auto offMainThread(F job) -> QCoro::Task<std::invoke_result_t<F>>
{
    return offMainThread(offMainThreadPool(), std::move(job));
}
