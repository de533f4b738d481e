#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace ostrel {

// Runs stations' reverse name look-ups, which can take seconds on a slow resolver, on a few threads
// of their own, so that one station's look-up holds up neither the network thread nor, while a
// thread is free, another station's look-up. Threads start on demand and end after a second idle.
// Shared (std::shared_ptr) by its owner and its threads: a thread still inside a look-up when the
// owner goes keeps it alive and ends afterwards without calling anything.
class NameLookup : public std::enable_shared_from_this<NameLookup>
{
public:
    using Resolver = std::function<std::string(const std::string& address)>;
    using Done = std::function<void(std::string name)>;

    static constexpr int MaxThreads = 4;
    // Look-ups waiting for a thread. A flood of connections from many addresses against a silent
    // name server would otherwise queue without end; beyond this a look-up is refused at once.
    static constexpr std::size_t MaxWaiting = 256;

    static std::shared_ptr<NameLookup> create(Resolver resolver);

    // Looks `address` up and calls `done` with the name on a look-up thread, unless stop() or
    // cancel() came first. A resolver that throws counts as a failed look-up: `done` gets the
    // address. Returns the look-up's ticket for cancel(); 0, and `done` is never called, when it
    // was refused: MaxWaiting look-ups wait already, no thread could be had, or stop() came.
    std::uint64_t lookUp(std::string address, Done done);

    // The look-up leaves the queue if it still waits there (its connection closed, or its name
    // came from elsewhere); true when it did, and its `done` is never called. A look-up that a
    // thread runs already goes on.
    bool cancel(std::uint64_t ticket);

    // No `done` runs once this returns; queued look-ups are dropped. Does not wait for a look-up
    // under way.
    void stop();

    int threads() const;
    std::size_t waiting() const;

private:
    explicit NameLookup(Resolver resolver) : m_resolver(std::move(resolver)) {}
    void work();

    struct Job
    {
        std::uint64_t ticket = 0;
        std::string address;
        Done done;
    };

    const Resolver m_resolver;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    // Held while a `done` runs, so stop() can wait for one already started.
    std::mutex m_deliver;
    std::uint64_t m_lastTicket = 0;
    int m_threads = 0;
    int m_idle = 0;
    bool m_stopped = false;
};

} // namespace ostrel
