#pragma once

#include "core/FileIo.h"
#include "core/HardwareAddress.h"

#include "stations/KnownStationsFile.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace ostrel {

// The stations file beside the session log. Connecting stations are noted from the network thread
// at the cost of a short lock; a worker thread reads the neighbour table once for all stations
// noted since its last round and rewrites the file in place, at most once per `coalesce`, so a
// hall of stations coming back after a power cut costs a few rewrites, not one each. The worker
// reads the file when it starts; a damaged line is skipped with a note on stderr. The file is never
// written through a link in its place.
class KnownStations
{
public:
    static constexpr std::string_view FileName = "Ostrel.stations";

    // Dotted IPv4 address to hardware address, for the neighbours the kernel has reached.
    using NeighbourTable = std::unordered_map<std::string, HardwareAddress>;
    using Neighbours = std::function<NeighbourTable()>;

    // Beyond this many (a flood of connections from made-up addresses), the longest unseen go.
    static constexpr std::size_t MaxStations = 65536;

    KnownStations(std::string path, Neighbours neighbours,
                  std::chrono::milliseconds coalesce = std::chrono::milliseconds(1000));
    // Writes what was noted, then stops the worker.
    ~KnownStations();

    KnownStations(const KnownStations&) = delete;
    KnownStations& operator=(const KnownStations&) = delete;

    // Any thread; `at` is a day number. A name with a control character is not kept: it could not
    // be written as one line.
    void seen(std::string name, std::string address, double at);

    // What is known now, by name; empty until the worker has read the file.
    std::vector<KnownStation> snapshot() const;

    // Waits, at most `limit`, until everything noted before the call is in the file; false on
    // time-out or when the file could not be written.
    bool flush(std::chrono::milliseconds limit);

    const std::string& path() const { return m_path; }

    // errno of the last rewrite that failed, 0 once one succeeded; ELOOP or LinkedFileError for a
    // link in the file's place.
    int writeError() const;
    // Called on the worker's thread when writeError() changes; it only posts. Set before the
    // first sighting.
    void setFaultListener(std::function<void()> listener);

private:
    struct Sighting
    {
        std::string name;
        std::string address;
        double at = 0;
    };

    void run();
    void load();
    // One round: the neighbour table read, the sightings merged, the file rewritten.
    bool store(std::vector<Sighting>& sightings);
    bool write(const std::string& text);

    const std::string m_path;
    const Neighbours m_neighbours;
    const std::chrono::milliseconds m_coalesce;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::vector<Sighting> m_pending;
    std::map<std::string, KnownStation> m_known;
    bool m_writable = true; // false when the file exists but could not be read: it is not overwritten
    bool m_lastWriteFailed = false;
    int m_writeError = 0;
    std::function<void()> m_faultListener;
    SpareDescriptor m_spare; // the worker's
    bool m_stopping = false;
    bool m_hurry = false;
    std::uint64_t m_noted = 0;  // sightings taken
    std::uint64_t m_stored = 0; // sightings whose round has finished
    std::thread m_thread;
};

} // namespace ostrel
