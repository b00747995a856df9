#include "core/platform/PendingCall.h"

PendingCall::PendingCall(QObject* parent, std::function<void()> run)
    : QObject(parent)
    , m_timer(this)
    , m_run(std::move(run))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_run(); });
}

void PendingCall::request()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void PendingCall::cancel()
{
    m_timer.stop();
}

bool PendingCall::isPending() const
{
    return m_timer.isActive();
}
