#pragma once

// What the reader tests share: a listening server over live state, and a bounded wait for what its
// network thread does.

#include "net/TCPServer.h"

#include "support/NetTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ostrel::readertest {

// True once `condition` holds, polled every millisecond; false when `timeout` passes first.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The loopback address of the i-th station of a test: 127.0.0.10, 127.0.0.11, ...
inline std::string stationAddress(std::size_t i)
{
    return "127.0.0." + std::to_string(10 + i);
}

// A listening server whose stations are named after their address ("PC-127.0.0.10") unless the
// test brings its own resolver.
struct Reader
{
    explicit Reader(NameLookup::Resolver resolver = [](const std::string& a) { return "PC-" + a; })
        : server(std::make_unique<TCPServer>()), state(*server)
    {
        server->setReportProcessor(&state.processor);
        server->setNameResolver(std::move(resolver));
        server->setReportObserver([this](const Connection& c, const StationReport&) {
            std::scoped_lock hold(lock);
            ++appliedFrom[c.address()];
        });
        listening = server->listen(0);
    }
    ~Reader() { server.reset(); } // the network thread stops before the state it writes goes

    std::uint64_t reportsFrom(const std::string& address)
    {
        std::scoped_lock hold(lock);
        return appliedFrom[address];
    }
    double price(const std::string& name) const
    {
        const auto row = state.stationRow(name);
        if (!row)
            return -1;
        std::string text = (*row)[ColPrice];
        std::replace(text.begin(), text.end(), ',', '.');
        return std::strtod(text.c_str(), nullptr);
    }

    std::unique_ptr<TCPServer> server;
    nettest::LiveState state;
    bool listening = false;
    std::mutex lock;
    std::map<std::string, std::uint64_t> appliedFrom;
};

} // namespace ostrel::readertest
