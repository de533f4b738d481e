#pragma once

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace ostrel {

// One piece of work at a time on a thread of its own (a read of a file, a write and its sync),
// whose result comes back on the owner's thread. The worker leaves the result under a lock and, as
// its last step, posts a call of the owner's invokable `slot` (by name, so the queued call carries
// nothing the worker wrote but what the lock guards); take() then joins the worker, which waits for
// nothing but its return, and hands the result over. The owner's destructor joins a worker under way
// (join()) before its widgets go; what the worker posted is dropped with the owner.
template <typename Result> class BackgroundWork
{
public:
    BackgroundWork() = default;
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;
    ~BackgroundWork() { join(); }

    // Runs `work` (a callable returning Result) on a new thread; a worker before it posted its
    // result and ended, and is joined first.
    template <typename Work> void start(QObject* owner, const char* slot, Work work)
    {
        join();
        m_thread = std::thread([this, owner, slot, work = std::move(work)]() mutable {
            Result result = work();
            {
                std::scoped_lock hold(m_lock);
                m_result = std::move(result);
            }
            QMetaObject::invokeMethod(owner, slot, Qt::QueuedConnection);
        });
    }

    // On the owner's thread, in `slot`: the result, once.
    std::optional<Result> take()
    {
        join();
        std::scoped_lock hold(m_lock);
        return std::exchange(m_result, std::nullopt);
    }

    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
    std::mutex m_lock;
    std::optional<Result> m_result; // under m_lock: the worker's, until taken
};

} // namespace ostrel
