#pragma once

#include <chrono>
#include <condition_variable>
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

    static std::shared_ptr<NameLookup> create(Resolver resolver);

    // Looks `address` up and calls `done` with the name on a look-up thread, unless stop() came
    // first. A resolver that throws counts as a failed look-up: `done` gets the address.
    void lookUp(std::string address, Done done);

    // No `done` runs once this returns; queued look-ups are dropped. Does not wait for a look-up
    // under way.
    void stop();

    int threads() const;

private:
    explicit NameLookup(Resolver resolver) : m_resolver(std::move(resolver)) {}
    void work();

    struct Job
    {
        std::string address;
        Done done;
    };

    const Resolver m_resolver;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    // Held while a `done` runs, so stop() can wait for one already started.
    std::mutex m_deliver;
    int m_threads = 0;
    int m_idle = 0;
    bool m_stopped = false;
};

} // namespace ostrel
