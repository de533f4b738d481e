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
    void dumpLine(std::string& out, std::uint64_t index, const SessionLogRecord& record);

    static std::string dateTime(double x); // date and time, both always shown
    static std::string money(double x);
    static std::string time(double x);

private:
    // Neighbouring records mostly share their day and often their price: a log of a million
    // records is written in well under half the time when these are not formatted anew.
    struct Memo
    {
        double value = 0;
        bool valid = false;
        std::string text;
    };
    const std::string& closedAtText(double x);
    static const std::string& memoized(Memo& memo, double value, std::string (*format)(double));
    // The ten fields in the header's order between tabs: the station's texts (Windows-1251)
    // through `text`, the formatted numbers through `number`.
    template <typename Text, typename Number>
    void appendFields(std::string& out, const SessionLogRecord& r, Text text, Number number);

    Memo m_day;
    std::string m_closedAt;
    Memo m_price;
    Memo m_sum;
};

} // namespace ostrel
