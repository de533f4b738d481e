#pragma once

// What the whole server's runs share: a loopback station's report, sent as a station sends it.

#include "stations/StationReport.h"

#include "support/NetTestSupport.h"

namespace ostrel::serverrun {

inline bool sendReport(const nettest::StationSocket& station, const StationReport& report)
{
    const auto bytes = encodeStationReport(report);
    return station.send(nettest::Bytes(bytes.begin(), bytes.end()));
}

} // namespace ostrel::serverrun
