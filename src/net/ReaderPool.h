#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace ostrel {

class TThreadOnRead;

// The threads that run readers. A read event hands its reader to an idle thread, or starts a new
// one when none is idle, up to MaxThreads; beyond that readers queue for the next free thread.
// Applying a report is serialised by StationTableMutex anyway, so more threads would only wait
// there. A thread that stays idle for `idleExit` ends, so after a burst the count returns to
// nothing. Reusing threads matters because starting one can take milliseconds on a loaded or
// virtualised host.
// Shared by the listener and its threads (std::shared_ptr): it outlives whichever goes last.
class ReaderPool : public std::enable_shared_from_this<ReaderPool>
{
public:
    static constexpr int MaxThreads = 16;

    static std::shared_ptr<ReaderPool> create(std::chrono::milliseconds idleExit);

    // Runs the reader on a pool thread. Throws std::system_error only when no thread exists and
    // none can be started; otherwise a reader waits for the next free thread.
    void post(std::unique_ptr<TThreadOnRead> reader);

    // Idle threads end now; busy ones after what is queued.
    void shutdown();

    int threads() const;

private:
    explicit ReaderPool(std::chrono::milliseconds idleExit) : m_idleExit(idleExit) {}
    void work();

    const std::chrono::milliseconds m_idleExit;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::unique_ptr<TThreadOnRead>> m_queue;
    int m_threads = 0;
    int m_idle = 0;
    bool m_stopping = false;
};

} // namespace ostrel
