#pragma once

#include "net/Connection.h"

#include <cstddef>
#include <functional>
#include <span>

namespace ostrel {

class StationReportSink;

// TThreadOnRead, the read handler of one station connection: receives what the connection has and
// applies every whole report in arrival order. It runs on the network thread each time the
// connection's socket is readable.
class TThreadOnRead
{
public:
    enum class Outcome
    {
        Drained, // the socket has nothing more now: wait until it is readable again
        More,    // this run's share is used up with bytes still waiting: come back after the others
        Closed,  // the station closed, a receive failed, or the connection was closed meanwhile
    };

    // Told of every report after it was handed to report processing (benchmarks, diagnostics).
    using ReportObserver = std::function<void(const Connection&, const StationReport&)>;

    // Bytes one run takes from a connection before it lets the others have their turn.
    static constexpr std::size_t MaxBytesPerRun = 64 * 1024;

    // Receives without blocking into `buffer` until the socket is drained or `maxBytes` are taken,
    // and applies the reports as they complete. End of stream or a receive error is reported as
    // Closed; closing the connection is the caller's.
    static Outcome readAvailable(Connection& connection, StationReportSink& processor, std::span<std::uint8_t> buffer,
                                 std::size_t maxBytes, const ReportObserver* observer = nullptr);
};

} // namespace ostrel
