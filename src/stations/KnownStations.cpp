#include "stations/KnownStations.h"

#include "core/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ostrel {

KnownStations::KnownStations(std::string path, Neighbours neighbours, std::chrono::milliseconds coalesce)
    : m_path(std::move(path)), m_neighbours(std::move(neighbours)), m_coalesce(coalesce)
{
    m_thread = std::thread([this] { run(); });
}

KnownStations::~KnownStations()
{
    {
        std::scoped_lock hold(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void KnownStations::seen(std::string name, std::string address, double at)
{
    if (name.empty() || hasControlCharacter(name))
        return;
    {
        std::scoped_lock hold(m_mutex);
        m_pending.push_back({std::move(name), std::move(address), at});
        ++m_noted;
    }
    m_wake.notify_all();
}

std::vector<KnownStation> KnownStations::snapshot() const
{
    std::scoped_lock hold(m_mutex);
    std::vector<KnownStation> stations;
    stations.reserve(m_known.size());
    for (const auto& [name, station] : m_known)
        stations.push_back(station);
    return stations;
}

bool KnownStations::flush(std::chrono::milliseconds limit)
{
    std::unique_lock hold(m_mutex);
    const std::uint64_t target = m_noted;
    if (m_stored < target) {
        m_hurry = true;
        m_wake.notify_all();
    }
    const bool done = m_written.wait_for(hold, limit, [&] { return m_stored >= target; });
    return done && !m_lastWriteFailed;
}

void KnownStations::load()
{
    std::string text;
    const bool read = readWholeFile(m_path, text);
    const int error = errno;
    const bool readable = read || error == ENOENT; // no file yet: the first round makes it
    if (!readable)
        std::fprintf(stderr, "ostrel-server: %s cannot be read (%s); it is left as it is\n", m_path.c_str(),
                     std::strerror(error));
    auto parsed = parseKnownStations(text);
    for (const std::size_t line : parsed.damagedLines)
        std::fprintf(stderr, "ostrel-server: %s line %zu is damaged and skipped\n", m_path.c_str(), line);
    std::fflush(stderr);
    std::scoped_lock hold(m_mutex);
    m_writable = readable;
    for (auto& s : parsed.stations) {
        std::string name = s.name;
        m_known[name] = std::move(s); // a later line of the same station wins
    }
}

void KnownStations::run()
{
    load();
    auto lastWrite = std::chrono::steady_clock::now() - m_coalesce;
    for (;;) {
        std::vector<Sighting> sightings;
        std::uint64_t round = 0;
        {
            std::unique_lock hold(m_mutex);
            m_wake.wait(hold, [&] { return m_stopping || !m_pending.empty(); });
            if (m_pending.empty())
                return; // stopping, nothing owed
            // Sightings arriving within the wait join this round.
            m_wake.wait_until(hold, lastWrite + m_coalesce, [&] { return m_stopping || m_hurry; });
            m_hurry = false;
            sightings = std::move(m_pending);
            m_pending.clear();
            round = m_noted;
        }
        bool ok = false;
        try {
            ok = store(sightings);
        } catch (...) {
            // Out of memory: this round's sightings are lost, the file keeps the last list written.
        }
        lastWrite = std::chrono::steady_clock::now();
        std::scoped_lock hold(m_mutex);
        m_lastWriteFailed = !ok;
        m_stored = round;
        m_written.notify_all();
    }
}

bool KnownStations::store(std::vector<Sighting>& sightings)
{
    NeighbourTable neighbours;
    if (m_neighbours)
        neighbours = m_neighbours();
    std::vector<KnownStation> all;
    bool writable = false;
    {
        std::scoped_lock hold(m_mutex);
        for (auto& s : sightings) {
            KnownStation& station = m_known[s.name];
            station.name = s.name;
            station.address = std::move(s.address);
            station.lastSeen = std::max(station.lastSeen, s.at);
            // A station that is not in the table now keeps the address its machine had: a new IP
            // address from the salon's DHCP does not change the network card.
            if (const auto it = neighbours.find(station.address); it != neighbours.end())
                station.hardware = it->second;
        }
        if (m_known.size() > MaxStations) {
            std::vector<std::pair<double, std::string>> byAge;
            for (const auto& [name, station] : m_known)
                byAge.emplace_back(station.lastSeen, name);
            const auto excess = static_cast<std::ptrdiff_t>(m_known.size() - MaxStations);
            std::nth_element(byAge.begin(), byAge.begin() + excess, byAge.end());
            for (auto it = byAge.begin(); it != byAge.begin() + excess; ++it)
                m_known.erase(it->second);
        }
        all.reserve(m_known.size());
        for (const auto& [name, station] : m_known)
            all.push_back(station);
        writable = m_writable;
    }
    return writable && write(formatKnownStations(all));
}

bool KnownStations::write(const std::string& text)
{
    // A crash in the middle of a rewrite leaves a line or two damaged, which the next start skips;
    // the list fills again as the stations connect.
    const int error = rewriteSharedFile(m_path, text, m_spare);
    const bool ok = error == 0;
    if (!ok && !m_lastWriteFailed) { // one note per run of failures, not one per round
        const char* why = error == ELOOP || error == LinkedFileError
                              ? "a link stands in its place; nothing is written through it"
                              : std::strerror(error);
        std::fprintf(stderr, "ostrel-server: %s cannot be written: %s\n", m_path.c_str(), why);
        std::fflush(stderr);
    }
    std::function<void()> listener;
    {
        std::scoped_lock hold(m_mutex);
        if (m_writeError != error)
            listener = m_faultListener;
        m_writeError = error;
    }
    if (listener)
        listener();
    return ok;
}

int KnownStations::writeError() const
{
    std::scoped_lock hold(m_mutex);
    return m_writeError;
}

void KnownStations::setFaultListener(std::function<void()> listener)
{
    std::scoped_lock hold(m_mutex);
    m_faultListener = std::move(listener);
}

} // namespace ostrel
