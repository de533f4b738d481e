#pragma once

#include "core/StationRow.h"
#include "stations/StationReport.h"

namespace ostrel {

// Told what happens to the stations, on the thread that applies reports or runs the disconnect
// handling, while that thread holds StationTableMutex. An observer only records and posts: it never
// waits, never takes StationTableMutex's readers' paths and never touches a widget.
class StationObserver
{
public:
    virtual ~StationObserver() = default;

    // A station's first report since it connected gave it a row (a reconnect included).
    virtual void stationAdded(const StationRow& row) = 0;
    // A report was written into the station's row; `row` is the row as it now stands.
    virtual void stationReported(const StationRow& row, const StationReport& report) = 0;
    // The station's connection ended; `row` is its row as it stood, just before it is removed.
    virtual void stationDropped(const StationRow& row) = 0;
};

} // namespace ostrel
