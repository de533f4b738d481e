#pragma once

#include "core/StationRow.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// A station whose connection ended and that has not come back. The session cells are those its
// row showed at that moment; they are empty when the row held no session.
struct DroppedStation
{
    std::string computer; // Windows-1251, as in the station table
    std::string address;
    double droppedAt = 0; // day number
    std::string tariff;
    std::string price;
    std::string sum;
    std::string left;
    bool byOperator = false; // the drop followed the server's own reboot, power-off or log-off

    bool heldSession() const { return !sum.empty(); }
    friend bool operator==(const DroppedStation&, const DroppedStation&) = default;
};

// The stations dropped since start-up, in the order they dropped; kept in memory only. A station is
// known by its computer name, as the station table knows it. Takes no lock itself.
class DroppedStations
{
public:
    // A station that drops again replaces its earlier entry and moves to the end.
    void dropped(const StationRow& row, double at, bool byOperator = false);
    // The station is back; false when it was not listed.
    bool reconnected(std::string_view computer);
    bool remove(std::string_view computer);
    void clear();

    const std::vector<DroppedStation>& entries() const { return m_entries; }
    std::uint64_t version() const { return m_version; }

private:
    std::vector<DroppedStation> m_entries;
    std::uint64_t m_version = 0;
};

} // namespace ostrel
