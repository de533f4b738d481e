#include "net/NameLookup.h"

#include <algorithm>
#include <pthread.h>
#include <thread>

namespace ostrel {

namespace {

constexpr std::chrono::seconds IdleExit{1};

} // namespace

std::shared_ptr<NameLookup> NameLookup::create(Resolver resolver)
{
    return std::shared_ptr<NameLookup>(new NameLookup(std::move(resolver)));
}

std::uint64_t NameLookup::lookUp(std::string address, Done done)
{
    std::scoped_lock hold(m_mutex);
    if (m_stopped || m_queue.size() >= MaxWaiting)
        return 0;
    const std::uint64_t ticket = ++m_lastTicket;
    m_queue.push_back({ticket, std::move(address), std::move(done)});
    if (m_idle > 0) {
        m_wake.notify_one();
        return ticket;
    }
    if (m_threads >= MaxThreads)
        return ticket; // the next free thread takes it
    ++m_threads;
    try {
        std::thread([self = shared_from_this()] { self->work(); }).detach();
    } catch (...) {
        --m_threads;
        if (m_threads == 0) {
            // No thread at all: nobody would ever answer.
            m_queue.pop_back();
            return 0;
        }
    }
    return ticket;
}

bool NameLookup::cancel(std::uint64_t ticket)
{
    Job job;
    {
        std::scoped_lock hold(m_mutex);
        const auto it = std::find_if(m_queue.begin(), m_queue.end(), [&](const Job& j) { return j.ticket == ticket; });
        if (it == m_queue.end())
            return false;
        job = std::move(*it);
        m_queue.erase(it);
    }
    return true; // whatever the callback holds is released outside the lock
}

void NameLookup::work()
{
    ::pthread_setname_np(::pthread_self(), "lookup"); // for the soak's CPU per thread
    std::unique_lock hold(m_mutex);
    for (;;) {
        while (m_queue.empty() && !m_stopped) {
            ++m_idle;
            const bool woken = m_wake.wait_for(hold, IdleExit, [this] { return !m_queue.empty() || m_stopped; });
            --m_idle;
            if (!woken)
                break;
        }
        if (m_queue.empty() || m_stopped)
            break;
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        hold.unlock();
        std::string name;
        try {
            name = m_resolver ? m_resolver(job.address) : job.address;
        } catch (...) {
            name = job.address; // a look-up that fails gives the dotted address
        }
        {
            std::scoped_lock deliver(m_deliver);
            bool stopped;
            {
                std::scoped_lock check(m_mutex);
                stopped = m_stopped;
            }
            if (!stopped) {
                try {
                    job.done(std::move(name));
                } catch (...) {
                    // Nothing leaves a worker thread; the connection's own time limit names it.
                }
            }
        }
        job = {}; // whatever the callback holds is released outside the lock
        hold.lock();
    }
    --m_threads;
}

void NameLookup::stop()
{
    {
        std::scoped_lock hold(m_mutex);
        m_stopped = true;
        m_queue.clear();
        m_wake.notify_all();
    }
    // A delivery already under way finishes before this returns.
    std::scoped_lock deliver(m_deliver);
}

int NameLookup::threads() const
{
    std::scoped_lock hold(m_mutex);
    return m_threads;
}

std::size_t NameLookup::waiting() const
{
    std::scoped_lock hold(m_mutex);
    return m_queue.size();
}

} // namespace ostrel
