#pragma once

#include "net/Connection.h"
#include "net/ReaderGate.h"
#include "net/ReaderPool.h"

#include <cstddef>
#include <functional>
#include <memory>

namespace ostrel {

class ReportProcessor;

// The reader of one read event (a task on a pooled thread rather than a thread of its own): receives what the
// connection has, applies every whole report in arrival order, and hands the connection back to the main thread. The
// listener starts one only while the connection's notifier is disabled, so a connection has at most one reader at a
// time.
class TThreadOnRead
{
public:
    enum class Outcome
    {
        Drained, // nothing more to read now (or this run's share is used up): watch the socket again
        Closed,  // the station closed, a receive failed, or the connection was closed meanwhile
    };

    // Told of every report after it was handed to report processing (benchmarks, diagnostics).
    using ReportObserver = std::function<void(const Connection&, const StationReport&)>;

    // Bytes one run takes from a connection before it lets the others have their turn.
    static constexpr std::size_t MaxBytesPerRun = 64 * 1024;

    // `done` runs on the reader thread, inside the gate's work section, with the outcome. `observer`
    // (may be null) belongs to the listener and is used only inside that section too.
    TThreadOnRead(std::shared_ptr<Connection> connection, std::shared_ptr<ReaderGate> gate, ReportProcessor& processor,
                  Connection::NameResolver resolver, std::function<void(Outcome)> done,
                  const ReportObserver* observer = nullptr);

    // Hands the reader to a pool thread. Throws std::system_error when no thread can be had; the
    // gate then does not count it.
    static void start(ReaderPool& pool, std::unique_ptr<TThreadOnRead> reader);

    // The thread body. Never throws.
    void run() noexcept;

    // Receives without blocking until the socket is drained or `maxBytes` are taken, and applies
    // the reports as they complete. End of stream or a receive error closes the connection, which
    // runs the disconnect handling on this thread.
    static Outcome readAvailable(Connection& connection, ReportProcessor& processor, std::size_t maxBytes,
                                 const ReportObserver* observer = nullptr);

private:
    std::shared_ptr<Connection> m_connection;
    std::shared_ptr<ReaderGate> m_gate;
    ReportProcessor& m_processor;
    Connection::NameResolver m_resolver;
    std::function<void(Outcome)> m_done;
    const ReportObserver* m_observer = nullptr;
};

} // namespace ostrel
