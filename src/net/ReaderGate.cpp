#include "net/ReaderGate.h"

namespace ostrel {

void ReaderGate::threadStarted()
{
    std::scoped_lock hold(m_mutex);
    ++m_threads;
}

void ReaderGate::threadEnded()
{
    std::scoped_lock hold(m_mutex);
    --m_threads;
    m_changed.notify_all();
}

bool ReaderGate::beginWork()
{
    std::scoped_lock hold(m_mutex);
    if (m_stopping)
        return false;
    ++m_working;
    return true;
}

void ReaderGate::endWork()
{
    std::scoped_lock hold(m_mutex);
    --m_working;
    m_changed.notify_all();
}

bool ReaderGate::stop(std::chrono::milliseconds threadWait)
{
    std::unique_lock hold(m_mutex);
    m_stopping = true;
    m_changed.wait(hold, [this] { return m_working == 0; });
    return m_changed.wait_for(hold, threadWait, [this] { return m_threads == 0; });
}

int ReaderGate::runningThreads() const
{
    std::scoped_lock hold(m_mutex);
    return m_threads;
}

} // namespace ostrel
