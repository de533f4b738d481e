#pragma once

#include "log/SessionLogRecord.h"

#include <string>

namespace ostrel {

// Writes decoded records as text into a growing buffer; the caller flushes it in large blocks.
// Texts come out as UTF-8; numbers that do not form a date, time or amount are written as they
// are ("NaN", "Inf", "1e+300"), so a damaged record is shown rather than refused.
class LogTextWriter
{
public:
    static void dumpHeader(std::string& out);
    static void dumpLine(std::string& out, std::uint64_t index, const SessionLogRecord& record);

    static void csvHeader(std::string& out);
    static void csvLine(std::string& out, const SessionLogRecord& record);

    static std::string dateTime(double x); // date and time, both always shown
    static std::string money(double x);
    static std::string time(double x);
};

} // namespace ostrel
