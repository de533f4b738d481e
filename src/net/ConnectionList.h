#pragma once

#include "net/Connection.h"

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace ostrel {

// The open connections in accept order. Lock order: StationTableMutex may be held while this list's
// mutex is taken, never the reverse; so no disconnect handling runs while the list is locked.
class ConnectionList
{
public:
    void add(std::shared_ptr<Connection> connection);
    void remove(const Connection* connection);

    // The first connection, in accept order, that is still open and whose peer address equals
    // `address` as text.
    std::shared_ptr<Connection> firstOpenFrom(std::string_view address) const;

    std::vector<std::shared_ptr<Connection>> snapshot() const;
    std::size_t size() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<Connection>> m_connections;
};

} // namespace ostrel
