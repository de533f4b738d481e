#include "report/CashShift.h"

#include "core/Texts.h"
#include "log/LogScan.h"

#include <cmath>

namespace ostrel {

double wholeSecond(double now)
{
    const auto text = formatDateAndTime(now);
    const auto back = text ? parseDateAndTime(*text) : std::nullopt;
    return back.value_or(now);
}

namespace {

std::optional<double> firstClosedAt(const std::string& logPath, std::optional<std::uint64_t> length)
{
    if (!length)
        return std::nullopt;
    std::optional<double> first;
    scanLogFile(
        logPath,
        [&first](const LogScanEntry& entry) {
            first = entry.closedAt;
            return false;
        },
        length);
    return first;
}

} // namespace

ShiftReading readShift(const std::string& logPath, const std::string& cashPath, double until,
                       std::optional<std::uint64_t> length)
{
    ShiftReading shift;
    shift.until = until;
    shift.book = readCashBook(cashPath);
    if (const auto last = shift.book.lastAt()) {
        shift.from = *last;
    } else {
        shift.sinceLogStart = true;
        const auto first = firstClosedAt(logPath, length);
        shift.from = first && isValidDateTime(*first) && *first < until ? *first : until;
    }
    shift.report = buildWorkReportSpan(logPath, shift.from, until, length);
    shift.sessions = shift.report.listed.size() - shift.report.repeats.size();
    const auto kopecks = toKopecks(shift.report.moneyTotal);
    shift.computedReadable = kopecks.has_value();
    shift.computed = kopecks.value_or(0);
    return shift;
}

RunningTakings runningTakings(const std::vector<StationRow>& rows)
{
    RunningTakings running;
    // Row 0 holds the headers and the last row is blank: neither has a computer name below row 0.
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const StationRow& row = rows[r];
        if (row[ColComputer].empty() || row[ColSum].empty())
            continue;
        const auto sum = parseMoney(row[ColSum]);
        const auto kopecks = sum ? toKopecks(*sum) : std::nullopt;
        if (!kopecks)
            continue;
        ++running.sessions;
        running.kopecks += *kopecks;
    }
    return running;
}

std::string shiftSpanText(double from, double until)
{
    return "Смена с " + formatDateAndTime(from).value_or("?") + " по " + formatDateAndTime(until).value_or("?");
}

std::string shiftSessionsText(std::uint64_t sessions)
{
    return "Сессий: " + std::to_string(sessions);
}

std::string shiftComputedText(std::int64_t kopecks)
{
    return "По журналу: " + formatKopecks(kopecks);
}

std::string shiftRunningText(int sessions, std::int64_t kopecks)
{
    return "Идут сейчас: " + std::to_string(sessions) + " на " + formatKopecks(kopecks);
}

} // namespace ostrel
