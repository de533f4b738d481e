#include "net/ConnectionRegistry.h"

namespace ostrel {

void ConnectionRegistry::add(const ConnectionPtr& connection)
{
    m_live.emplace(connection.get(), connection);
    {
        std::scoped_lock hold(m_mutex);
        m_byAddress[connection->address()].push_back(connection);
    }
    ++m_openCount;
}

void ConnectionRegistry::removeOpen(const ConnectionPtr& connection)
{
    {
        std::scoped_lock hold(m_mutex);
        const auto it = m_byAddress.find(connection->address());
        if (it != m_byAddress.end()) {
            auto& list = it->second;
            std::erase(list, connection);
            if (list.empty())
                m_byAddress.erase(it);
        }
    }
    --m_openCount;
}

void ConnectionRegistry::forgetIfFinished(const ConnectionPtr& connection)
{
    if (connection->isClosed() && !connection->disconnectOwed())
        m_live.erase(connection.get());
}

void ConnectionRegistry::abandonAll()
{
    for (const auto& [key, connection] : m_live)
        connection->abandon();
    {
        std::scoped_lock hold(m_mutex);
        m_byAddress.clear();
    }
    m_openCount = 0;
}

ConnectionPtr ConnectionRegistry::firstOpenFrom(std::string_view address) const
{
    std::scoped_lock hold(m_mutex);
    const auto it = m_byAddress.find(std::string(address));
    if (it == m_byAddress.end())
        return nullptr;
    for (const auto& c : it->second)
        if (!c->isClosed())
            return c;
    return nullptr;
}

std::size_t ConnectionRegistry::countFrom(const std::string& address) const
{
    std::scoped_lock hold(m_mutex);
    const auto it = m_byAddress.find(address);
    return it == m_byAddress.end() ? 0 : it->second.size();
}

} // namespace ostrel
