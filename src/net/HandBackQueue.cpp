#include "net/HandBackQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace ostrel {

HandBackQueue::HandBackQueue() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

HandBackQueue::~HandBackQueue()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void HandBackQueue::push(std::shared_ptr<Connection> connection)
{
    bool wasEmpty = false;
    {
        std::scoped_lock hold(m_mutex);
        wasEmpty = m_entries.empty();
        m_entries.push_back(std::move(connection));
    }
    if (wasEmpty) {
        const std::uint64_t one = 1;
        (void)::write(m_fd, &one, sizeof one);
    }
}

std::vector<std::shared_ptr<Connection>> HandBackQueue::takeAll()
{
    std::uint64_t count = 0;
    (void)::read(m_fd, &count, sizeof count);
    std::scoped_lock hold(m_mutex);
    return std::exchange(m_entries, {});
}

} // namespace ostrel
