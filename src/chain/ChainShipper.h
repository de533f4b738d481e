#pragma once

#include "chain/ChainSchema.h"
#include "chain/ChainSettings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ostrel {

// What the shipper has done, for the summary and the tray.
struct ChainStatus
{
    bool connected = false;
    std::uint64_t shipped = 0; // rows in the database that this run sent or found there
    std::uint64_t waiting = 0; // log records and lines read but not in the database yet
    // While the database is away: since when (a local day number), and for how long.
    std::optional<double> awaySince;
    std::chrono::steady_clock::duration awayFor{};
    // Set when the shipping stopped for good: a row in the database differs from the salon's own.
    std::optional<std::string> stopped;
    std::string lastError; // libpq's last complaint, for the maintainer
};

// Where the shipper reads, and how often; a test shortens the times.
struct ChainSources
{
    std::string logPath;
    std::string auditPath;
    std::string cashPath;
    // How much of the log is durable; empty: the file's own length, whole records.
    std::function<std::optional<std::uint64_t>()> logLength;
    // How much of the audit trail is durable; empty: the whole file.
    std::function<std::optional<std::uint64_t>()> auditLength;
    // The hall now; empty: no live table.
    std::function<std::vector<HallRow>()> hall;
};

struct ChainTiming
{
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds longestRetry{60'000};
    std::chrono::milliseconds poll{1000};        // how often the files are looked at when all is shipped
    std::chrono::milliseconds hallEvery{10'000}; // the live table at most this often
    std::uint64_t batchRows = 20'000;            // rows of one file in one transaction

    // The wait after `current` failed too: twice as long, at most longestRetry.
    std::chrono::milliseconds nextRetry(std::chrono::milliseconds current) const
    {
        return std::min(current * 2, longestRetry);
    }
};

// Copies the salon's files into the chain's PostgreSQL database on a thread of its own, through
// libpq: each row once, keyed by the salon and its position in its file. After a connection is
// made, the database is asked how far each file got, and the newest row it holds is sent again,
// so that a row there with other contents (two salons with one name, a log replaced) stops the
// shipping with a message instead of being taken as the same. The files are only read: the log,
// the trail and their threads never wait for the shipper.
class ChainShipper
{
public:
    ChainShipper(ChainSettings settings, ChainSources sources, ChainTiming timing = {});
    ~ChainShipper(); // stops
    ChainShipper(const ChainShipper&) = delete;
    ChainShipper& operator=(const ChainShipper&) = delete;

    void start();
    // Ends the thread: a statement under way is cancelled, a connection being made is given up
    // after libpq's connect_timeout at most.
    void stop();
    // Looks at the files now rather than at the next poll: new records were written.
    void wake();

    ChainStatus status() const;
    const ChainSettings& settings() const { return m_settings; }

    // Called on the shipper's thread whenever status() may have changed: only posts.
    void setStatusListener(std::function<void()> listener);

private:
    struct Connection;
    void run();
    // True when the shipping ended (stopping, or stopped for good); false when the connection failed.
    bool session(Connection& c, std::chrono::milliseconds& retry);
    bool waitFor(std::chrono::milliseconds span);
    void update(const std::function<void(ChainStatus&)>& change);

    ChainSettings m_settings;
    ChainSources m_sources;
    ChainTiming m_timing;

    mutable std::mutex m_lock;
    std::condition_variable m_wakeUp;
    bool m_stopping = false;
    bool m_woken = false;
    ChainStatus m_status;
    std::function<void()> m_listener;
    std::chrono::steady_clock::time_point m_awayStarted; // under m_lock
    void* m_cancel = nullptr;                            // the PGcancel of the connection in use, under m_lock

    std::thread m_thread;
};

} // namespace ostrel
