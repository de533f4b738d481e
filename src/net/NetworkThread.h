#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include <atomic>
#include <future>
#include <thread>
#include <utility>

namespace ostrel {

// The one thread that runs the stations' io_context. What a handler lets escape is told once and
// costs that one event, never the thread.
class NetworkThread
{
public:
    asio::io_context& io() { return m_io; }

    bool running() const { return m_started.load(); }
    bool onThread() const { return m_id.load() == std::this_thread::get_id(); }

    // Runs `job` on the network thread and waits for it; runs it here when this is that thread or
    // no network thread runs.
    template <typename Job> auto run(Job job) -> decltype(job())
    {
        if (onThread() || !running())
            return job();
        std::packaged_task<decltype(job())()> task(std::move(job));
        auto result = task.get_future();
        asio::post(m_io, [&task] { task(); });
        return result.get();
    }

    // False when no thread could be had.
    bool start();
    // Network thread: the thread ends once the waits cancelled by then have finished.
    void release() { m_work.reset(); }
    // The owner's thread, after release() was posted.
    void join();

private:
    void reportEscaped(const char* what);

    asio::io_context m_io{1};
    asio::executor_work_guard<asio::io_context::executor_type> m_work{m_io.get_executor()};
    std::thread m_thread; // started and joined by the owner's thread only
    std::atomic<bool> m_started{false};
    std::atomic<std::thread::id> m_id{};
    // What escaped a handler, told on stderr the first time only: a fault that repeats on every
    // event would otherwise fill the operator's terminal or journal.
    bool m_escapedTold = false; // network thread
};

} // namespace ostrel
