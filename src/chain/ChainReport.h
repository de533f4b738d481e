#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// One salon's period in the chain's database, by the work report's rules: the sessions closed in
// DateBeg <= ClosedAt < DateEnd + 1 day, the repeats left out of the totals.
struct ChainSalonTotals
{
    std::string salon; // UTF-8
    std::uint64_t sessions = 0;
    std::uint64_t repeats = 0;
    std::int64_t kopecks = 0;
    std::int64_t milliseconds = 0;
};

struct ChainReport
{
    std::optional<std::string> error;     // libpq's message when the database could not be read
    std::vector<ChainSalonTotals> salons; // by name
    ChainSalonTotals total;               // its salon empty

    // One line per salon and the grand total, TAB-separated (UTF-8); or the same as CSV.
    std::string text() const;
    std::string csv() const;
};

ChainReport readChainReport(const std::string& conninfo, double dateBeg, double dateEnd);

} // namespace ostrel
