#include "core/platform/LoopPause.h"

LoopPause::LoopPause(QObject* owner, std::chrono::milliseconds duration)
    : m_owner(owner)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(duration);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { resume(); });
}

LoopPause::~LoopPause()
{
    disconnectAll();
}

void LoopPause::suspend(std::coroutine_handle<> handle)
{
    m_handle = handle;
    m_destroyed = QObject::connect(m_owner.data(), &QObject::destroyed, [this] { resume(); });
    m_timer.start();
}

void LoopPause::disconnectAll()
{
    m_timer.stop();
    QObject::disconnect(m_destroyed);
    QObject::disconnect(m_wake);
}

void LoopPause::resume()
{
    if (!m_handle)
        return;
    // The coroutine may end, and this object with it, before resume() returns.
    const std::coroutine_handle<> handle = std::exchange(m_handle, {});
    disconnectAll();
    handle.resume();
}
