#pragma once

#include "net/TCPServer.h"

#include "support/NetTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace ostrel::nettest {

// Runs the event loop until `condition` holds or the deadline passes.
// A tick wakes the loop now and then, so it sleeps in between instead of spinning.
inline bool processUntil(const std::function<bool()>& condition,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
{
    QTimer tick;
    tick.start(2);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for a while when there is no condition to wait for (only to give a fault
// the chance to show: a stray send, a second close).
inline void processFor(std::chrono::milliseconds time)
{
    processUntil([] { return false; }, time);
}

// A listening server on an ephemeral port with live state behind it. Stations are named after
// their address ("PC-127.0.0.5") so rows can be found without a resolver.
struct LiveServer
{
    LiveServer(ResumeSettings settings = {}) : server(std::make_unique<TCPServer>()), state(*server, settings)
    {
        server->setReportProcessor(&state.processor);
        server->setNameResolver([](const std::string& address) { return "PC-" + address; });
        listening = server->listen(0);
    }
    ~LiveServer() { server.reset(); }

    std::uint16_t port() const { return server->port(); }

    std::unique_ptr<TCPServer> server;
    LiveState state;
    bool listening = false;
};

} // namespace ostrel::nettest
