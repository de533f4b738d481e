#pragma once

#include "commands/CommandTransport.h"
#include "core/StationRow.h"

#include <string_view>

namespace ostrel {

class TariffList;

enum class ResumeResult
{
    Sent,
    TimeUnreadable, // a tariff not in Prices whose time-left text cannot be read: nothing sent, quietly
    BadPrice,       // the tariff's value is not a number (or the name is in neither list): nothing sent
    NoConnection,   // no open connection has the row's address: nothing sent
};

struct ResumeContext
{
    CommandTransport& transport;
    const TariffList& prices;
    const TariffList& games;
    bool waitAfterReset = true;
};

// Gives a station that came back after a reset its last session: the same tariff, started or put
// into waiting as WaitAfterReset says, with the time that was left for a game tariff.
ResumeResult ResumeSession(const ResumeContext& context, std::string_view tariff, const StationRow& row,
                           std::string_view timeLeft);

} // namespace ostrel
