#include "net/ConnectionList.h"

#include <algorithm>

namespace ostrel {

void ConnectionList::add(std::shared_ptr<Connection> connection)
{
    std::scoped_lock hold(m_mutex);
    m_connections.push_back(std::move(connection));
}

void ConnectionList::remove(const Connection* connection)
{
    std::scoped_lock hold(m_mutex);
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [connection](const auto& c) { return c.get() == connection; });
    if (it != m_connections.end())
        m_connections.erase(it);
}

std::shared_ptr<Connection> ConnectionList::firstOpenFrom(std::string_view address) const
{
    std::scoped_lock hold(m_mutex);
    for (const auto& c : m_connections) {
        if (!c->isClosed() && c->address() == address)
            return c;
    }
    return nullptr;
}

std::vector<std::shared_ptr<Connection>> ConnectionList::snapshot() const
{
    std::scoped_lock hold(m_mutex);
    return m_connections;
}

std::size_t ConnectionList::size() const
{
    std::scoped_lock hold(m_mutex);
    return m_connections.size();
}

} // namespace ostrel
