#pragma once

#include "log/LogScan.h"
#include "log/SessionLogRecord.h"

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ostrel {

// A session that ends "Ok" while its station then drops before the next report is logged again,
// "Reset", with the same fields: the resumption of a game depends on that record. A record is such
// a repeat when the previous record of the same computer and address was closed less than a day
// earlier with the same Start, Finish, Price and Sum. The work report lists a repeat but leaves it
// out of its totals; the previous record may lie before the period, so the records of the day
// before it are taken too.
class RepeatFinder
{
public:
    // Takes the records in file order; true when this one repeats its station's previous record.
    bool take(const LogScanEntry& entry);

    // A record too old to be repeated by any of the period; it still ends its station's chain.
    void forget(const LogScanEntry& entry);

private:
    struct Figures
    {
        double closedAt;
        double price;
        double start;
        double finish;
        double sum;
    };
    struct Hash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, Figures, Hash, std::equal_to<>> m_last; // one entry per station met
    std::array<char, LogStationKeyCapacity> m_key{};
};

} // namespace ostrel
