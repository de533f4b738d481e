#pragma once

#include "Options.h"
#include "StationModel.h"
#include "core/UniqueFd.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <ostream>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace ostrel::sim {

using SteadyClock = std::chrono::steady_clock;

// The stations' clock: local day numbers that start at the wall clock and run `speed` times faster.
class StationClock
{
public:
    StationClock(double startDay, SteadyClock::time_point origin, double speed);
    double dayAt(SteadyClock::time_point t) const;
    SteadyClock::time_point realAt(double day) const; // clamped to a day ahead for far-off days

private:
    double m_startDay;
    SteadyClock::time_point m_origin;
    double m_speed;
};

struct SimulatorStats
{
    std::uint64_t reportsSent = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t commandsReceived = 0;
    std::map<std::int32_t, std::uint64_t> commandsByCode;
    std::uint64_t badCommandBytes = 0;
    std::uint64_t connects = 0;
    std::uint64_t reconnects = 0;
    std::uint64_t connectFailures = 0;
    std::uint64_t discoveryTimeouts = 0;
    // Sessions the server logs for this run: one "Ok" per finished report (code 3) it reads, one
    // "Reset" per connection that ends while its last report showed a session (codes 2, 3 and 5).
    // Exact because every report counted here reaches the server before its connection ends: a
    // station closes with a FIN and waits for the server's own close, resets only once the server's
    // kernel holds everything sent, and leaves a dead connection for the server to close only after
    // a quiet time; the rest of a report that was cut off is never counted.
    std::uint64_t sessionsClosed = 0;
    std::uint64_t finishedReports = 0;   // code-3 reports sent whole
    std::uint64_t resetCloses = 0;       // ended connections whose last whole report had code 2, 3 or 5
    std::uint64_t serverCloses = 0;      // connections the server ended while the station used them
    std::uint64_t unconfirmedCloses = 0; // closes whose delivery could not be awaited to the end
    std::uint64_t powerCuts = 0;
    std::uint64_t reportsSkipped = 0;
};

// Whether a station's last report leaves the sum filled in its row, so that the server logs the
// session as "Reset" when the connection ends: a running, finished or running game session.
bool reportLeavesSum(std::int32_t statusCode);

// All stations in one thread: non-blocking sockets, one epoll loop, a timer heap. Nothing here
// waits on a socket; every wait is the loop's, bounded by the next timer.
class Simulator
{
public:
    Simulator(SimulatorOptions options, std::ostream& out);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Sets up the loop; false with `error` when the system refuses.
    bool open(std::string& error);
    // Runs until the duration ends, a script stops it or stop() is called. Returns the seconds run.
    double run();
    // Safe from any thread and from a signal handler.
    void stop();
    int stopDescriptor() const { return m_stopFd.get(); }

    const SimulatorStats& stats() const { return m_stats; }
    void printSummary(std::ostream& out, double seconds) const;

private:
    enum class Phase
    {
        Away,        // waiting to (re)try
        Discovering, // asked by UDP, waiting for "Hi Client"
        Connecting,
        Connected,
        Closing, // the station's own close: waiting for the server's close, or for its kernel to hold everything
    };
    enum Tag : std::uint64_t
    {
        TcpTag = 0,
        UdpTag = 1,
        StaleTag = 2, // a connection left behind by a power cut, for the server to close
    };
    struct Chunk
    {
        std::vector<std::uint8_t> bytes;
        std::size_t offset = 0;
        SteadyClock::time_point notBefore;
        bool endsReport = false;
        std::int32_t code = -1; // of the report this chunk ends
    };
    struct Station
    {
        int index = 0;
        std::uint32_t address = 0;
        std::string name;
        std::unique_ptr<StationModel> model;
        Phase phase = Phase::Away;
        UniqueFd tcp;
        UniqueFd udp;
        std::uint32_t server = 0;
        SteadyClock::time_point phaseDeadline;
        SteadyClock::time_point nextReport;
        SteadyClock::time_point dropAt = SteadyClock::time_point::max();
        std::deque<Chunk> out;
        std::size_t outBytes = 0;
        bool writeWatched = false;
        std::vector<std::uint8_t> in;
        double backoffSeconds = 0.5;
        std::uint64_t failuresInARow = 0;
        std::string lastFailure;
        bool everConnected = false;
        SteadyClock::time_point scheduled = SteadyClock::time_point::max();
        std::uint64_t generation = 0;
        std::int32_t lastSentCode = -1; // of the last report sent whole on this connection
        bool closingAbortive = false;
        SteadyClock::time_point closeDeadline;
        SteadyClock::time_point comeBackAt;
        UniqueFd staleTcp;
        std::int32_t staleLastCode = -1;
    };
    struct Timer
    {
        SteadyClock::time_point at;
        int station;
        std::uint64_t generation;
        bool operator>(const Timer& other) const { return at > other.at; }
    };

    void service(Station& s, SteadyClock::time_point now);
    void reschedule(Station& s);
    void beginAttempt(Station& s, SteadyClock::time_point now);
    void connectTcp(Station& s, SteadyClock::time_point now);
    void onConnected(Station& s, SteadyClock::time_point now);
    void onTcpEvent(Station& s, std::uint32_t events, SteadyClock::time_point now);
    void onUdpEvent(Station& s, SteadyClock::time_point now);
    void retryLater(Station& s, SteadyClock::time_point now, const std::string& why);
    void leave(Station& s, SteadyClock::time_point now, double seconds, bool abortive, const std::string& why);
    void serviceClosing(Station& s, SteadyClock::time_point now);
    void finishClose(Station& s, SteadyClock::time_point now, bool confirmed);
    void lost(Station& s, SteadyClock::time_point now, const std::string& why);
    void powerCut(Station& s, SteadyClock::time_point now);
    void onStaleEvent(Station& s, std::uint32_t events);
    void endStale(Station& s, bool confirmed);
    void connectionEnded(std::int32_t lastSentCode);
    void closeAll(SteadyClock::time_point now);
    bool drain(int fd); // reads and drops what is there; false once the peer has closed
    void closeSockets(Station& s, bool abortive);
    void sendReports(Station& s, SteadyClock::time_point now);
    void enqueueReport(Station& s, const StationReport& report, SteadyClock::time_point now);
    bool flush(Station& s, SteadyClock::time_point now);
    void watchWrite(Station& s, bool on);
    void handleCommands(Station& s, SteadyClock::time_point now);
    void obey(Station& s, const StationCommand& command, SteadyClock::time_point now);
    void applyScript(SteadyClock::time_point now);
    bool verbose(const Station& s) const;

    SimulatorOptions m_options;
    std::ostream& m_out;
    SimulatorStats m_stats;
    UniqueFd m_epoll;
    UniqueFd m_stopFd;
    bool m_stopping = false;
    bool m_finishing = false; // the run is over: only closes are awaited
    std::uint32_t m_discoverAddress = 0;
    std::uint32_t m_serverAddress = 0;
    SteadyClock::duration m_reportPeriod{};
    std::vector<Station> m_stations;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<>> m_timers;
    std::unique_ptr<StationClock> m_clock;
    std::mt19937 m_random;
    std::size_t m_nextScriptStep = 0;
    SteadyClock::time_point m_started;
};

} // namespace ostrel::sim
