#pragma once

#include "log/HourlyLoad.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The time total as the report shows it: whole hours (held in 16 bits, so they wrap at 65536),
// minutes and seconds, fractions of a second dropped.
struct TimeTotal
{
    std::uint16_t hours = 0;
    std::uint16_t minutes = 0;
    std::uint16_t seconds = 0;
    std::string text() const; // "26:3:4": plain numbers, no leading zeros
    friend bool operator==(const TimeTotal&, const TimeTotal&) = default;
};

// Splits a sum of durations (days). The sum is taken to the millisecond first: the durations are
// whole seconds stored as day fractions, and their sum must not lose a second to the last bit of
// a double. A non-finite total gives 0:0:0.
TimeTotal splitTimeTotal(double days);

struct WorkReportResult
{
    enum class Outcome
    {
        Listed,     // read to the end of the period or of the log
        Damaged,    // "Файл отчета разрушен": reading stopped; what was gathered before stays
        OpenFailed, // the log exists but cannot be opened: no report
    };
    Outcome outcome = Outcome::Listed;
    int error = 0;           // errno of OpenFailed or of a failed read
    bool logMissing = false; // no log yet: the report is empty, and the file is not created

    // UTF-8: the header line, one TAB-separated line per listed session, the totals line; lines
    // joined by '\n', no newline after the last.
    std::string text;
    double moneyTotal = 0;
    double timeTotal = 0; // days
    std::string moneyText;
    TimeTotal time;

    // Record numbers (0 for the first record of the file) of the listed sessions, in order.
    std::vector<std::uint64_t> listed;
    // Those of them that repeat their station's previous record (a session logged "Ok" and then
    // again "Reset"): listed, but left out of the totals, which then end with a line saying how
    // many were left out.
    std::vector<std::uint64_t> repeats;
    std::uint64_t recordsRead = 0; // how far the reading went
    // The listed sessions by the hour of the day, repeats counting nothing, for the charts.
    HourlyLoad hourly;

    bool damaged() const { return outcome == Outcome::Damaged; }
};

// The work report over the sessions closed in DateBeg <= ClosedAt < DateEnd + 1 day. The log is
// read from the start in file order and the reading stops at the first session past the period.
// Memory grows with the sessions of the period (and of the day before it), not with the log.
//
// `length` is the log's length as the last finished append left it (SessionLog::stableLength(),
// nullopt when there is no log). Only those bytes are read: whole records below it never change,
// while bytes past it may belong to an append under way. A trailing piece shorter than a record,
// when the reading reaches it, marks the log damaged, as do a ClosedAt that is not a valid
// date-time, a text length byte beyond its field, a read error, and a value that has no text form.
WorkReportResult buildWorkReport(const std::string& logPath, double dateBeg, double dateEnd,
                                 std::optional<std::uint64_t> length);

// The same report over the sessions closed in from <= ClosedAt < until, moments of any time of day:
// a shift of the till. buildWorkReport is this with from = DateBeg and until = DateEnd + 1 day.
WorkReportResult buildWorkReportSpan(const std::string& logPath, double from, double until,
                                     std::optional<std::uint64_t> length);

// The header line of the report.
std::string_view workReportHeader();

} // namespace ostrel
