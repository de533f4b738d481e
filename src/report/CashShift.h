#pragma once

#include "core/StationRow.h"
#include "log/CashBook.h"
#include "report/WorkReportBuilder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// `now` to the whole second, as the cash book writes and reads a moment back: the end of one shift
// and the start of the next are then the very same number.
double wholeSecond(double now);

// The shift the till is about to hand over: from the newest cash-up (or the log's first record when
// there is none) to `until`, its sessions and their sum by the work report's own rules.
struct ShiftReading
{
    double from = 0;
    double until = 0;
    bool sinceLogStart = false; // no cash-up yet
    WorkReportResult report;    // the work report for exactly the shift
    std::uint64_t sessions = 0; // listed less repeats
    std::int64_t computed = 0;  // kopecks of the report's total
    bool computedReadable = true;
    CashBookRead book; // the cash book as read, for its damaged lines
    bool usable() const { return computedReadable && report.outcome != WorkReportResult::Outcome::OpenFailed; }
};

// Reads the cash book, then `length` bytes of the log (SessionLog::stableLength()); takes as long as
// the log is long, so it is for a thread that may wait on the disk.
ShiftReading readShift(const std::string& logPath, const std::string& cashPath, double until,
                       std::optional<std::uint64_t> length);

// The sessions the station table shows running (a row with a sum) and their sums so far.
struct RunningTakings
{
    int sessions = 0;
    std::int64_t kopecks = 0;
};
RunningTakings runningTakings(const std::vector<StationRow>& rows);

// "Смена с 08.12.2026 9:00:00 по 08.12.2026 21:00:00"
std::string shiftSpanText(double from, double until);
// "Сессий: 12", "По журналу: 1234,50", "Идут сейчас: 3 на 120,00"
std::string shiftSessionsText(std::uint64_t sessions);
std::string shiftComputedText(std::int64_t kopecks);
std::string shiftRunningText(int sessions, std::int64_t kopecks);

} // namespace ostrel
