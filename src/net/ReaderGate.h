#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ostrel {

// Shared by the listener and its reader threads, and outlives both: it lets the listener stop
// without waiting for a reader that is still inside a slow name look-up, while no reader touches
// the listener or report processing once the listener is gone.
class ReaderGate
{
public:
    // A reader thread is counted from just before it starts until its body ends.
    void threadStarted();
    void threadEnded();

    // Brackets the part of a reader that touches the listener, report processing or the tables.
    // beginWork() is false once stopping: the reader then ends without touching anything.
    bool beginWork();
    void endWork();

    // Refuses further work, waits for the work under way (it is bounded: a reader drains at most a
    // fixed number of bytes per run), then waits up to `threadWait` for the reader threads to end.
    // True when none is left.
    bool stop(std::chrono::milliseconds threadWait);

    int runningThreads() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    int m_threads = 0;
    int m_working = 0;
};

} // namespace ostrel
