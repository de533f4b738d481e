#include "net/ReaderPool.h"

#include "net/TThreadOnRead.h"

#include <system_error>
#include <thread>

namespace ostrel {

std::shared_ptr<ReaderPool> ReaderPool::create(std::chrono::milliseconds idleExit)
{
    return std::shared_ptr<ReaderPool>(new ReaderPool(idleExit));
}

void ReaderPool::post(std::unique_ptr<TThreadOnRead> reader)
{
    std::unique_lock hold(m_mutex);
    m_queue.push_back(std::move(reader));
    if (m_idle >= static_cast<int>(m_queue.size())) {
        m_wake.notify_one();
        return;
    }
    if (m_threads >= MaxThreads)
        return; // a busy thread takes it when it is done
    ++m_threads;
    try {
        std::thread([self = shared_from_this()] { self->work(); }).detach();
    } catch (...) {
        --m_threads;
        if (m_threads > 0)
            return; // a busy thread takes it when it is done
        m_queue.pop_back();
        throw;
    }
}

void ReaderPool::work()
{
    std::unique_lock hold(m_mutex);
    for (;;) {
        while (m_queue.empty() && !m_stopping) {
            ++m_idle;
            const bool woken = m_wake.wait_for(hold, m_idleExit, [this] { return !m_queue.empty() || m_stopping; });
            --m_idle;
            if (!woken)
                break;
        }
        if (m_queue.empty())
            break;
        auto reader = std::move(m_queue.front());
        m_queue.pop_front();
        hold.unlock();
        reader->run();
        reader.reset();
        hold.lock();
    }
    --m_threads;
}

void ReaderPool::shutdown()
{
    std::scoped_lock hold(m_mutex);
    m_stopping = true;
    m_wake.notify_all();
}

int ReaderPool::threads() const
{
    std::scoped_lock hold(m_mutex);
    return m_threads;
}

} // namespace ostrel
