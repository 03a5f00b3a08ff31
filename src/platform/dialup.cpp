#include "dialup.h"

#include <chrono>

void AutoResetEvent::set()
{
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    m_cv.notify_one();
}

bool AutoResetEvent::wait()
{
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_signalled || m_closed; });
    if (m_closed)
        return false;
    m_signalled = false;
    return true;
}

void AutoResetEvent::close()
{
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_cv.notify_all();
}

AutoResetEvent::WaitResult AutoResetEvent::waitFor(int milliseconds)
{
    std::unique_lock lock(m_mutex);
    const bool woke = m_cv.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [this] { return m_signalled || m_closed; });
    if (m_closed)
        return Closed;
    if (!woke)
        return TimedOut;
    m_signalled = false;
    return Signalled;
}
