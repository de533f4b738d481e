#pragma once

#include "net/Connection.h"

#include <memory>
#include <mutex>
#include <vector>

namespace ostrel {

// Connections handed back to the main thread by reader threads (watch again, or forget a closed
// one). A descriptor becomes readable when the queue gains its first entry, so the main thread's
// event loop wakes once per batch; the queue itself is a plain mutex-guarded list, which keeps
// the hand-off visible to ThreadSanitizer.
class HandBackQueue
{
public:
    HandBackQueue();
    ~HandBackQueue();
    HandBackQueue(const HandBackQueue&) = delete;
    HandBackQueue& operator=(const HandBackQueue&) = delete;

    bool isValid() const { return m_fd >= 0; }
    int fd() const { return m_fd; } // readable while entries wait

    void push(std::shared_ptr<Connection> connection);
    std::vector<std::shared_ptr<Connection>> takeAll();

private:
    int m_fd = -1;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<Connection>> m_entries;
};

} // namespace ostrel
