#pragma once

#include "net/Connection.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ostrel {

using ConnectionPtr = std::shared_ptr<Connection>;

// The server's connections: every one not yet finished with, and the open ones by peer address,
// each address's in accept order. Changed on the network thread only; the open ones are read from
// any thread.
class ConnectionRegistry
{
public:
    // Network thread: an accepted connection, open from now on.
    void add(const ConnectionPtr& connection);
    // Network thread: a connection that closed is no longer open; it stays until it is finished.
    void removeOpen(const ConnectionPtr& connection);
    // Network thread: a closed connection is finished with once its disconnect handling is not
    // owed any more.
    void forgetIfFinished(const ConnectionPtr& connection);
    // Network thread, at shutdown: every connection abandoned, none open any more.
    void abandonAll();
    // The owner's thread, once the network thread has ended.
    void clear() { m_live.clear(); }

    // The first open connection from `address`, in accept order; null when none.
    ConnectionPtr firstOpenFrom(std::string_view address) const;
    // Open connections from `address`.
    std::size_t countFrom(const std::string& address) const;
    std::size_t openCount() const { return m_openCount.load(); }

private:
    // Network thread.
    std::unordered_map<const Connection*, ConnectionPtr> m_live;
    // Lock order: StationTableMutex may be held while this is taken, never the reverse.
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, std::deque<ConnectionPtr>> m_byAddress;
    std::atomic<std::size_t> m_openCount{0};
};

} // namespace ostrel
