// Arbitrary bytes as a session log and a period, through the work report. The input is
//   8 bytes DateBeg, 8 bytes DateEnd (little-endian doubles), 1 byte that cuts the length the
//   report may read (255: no log at all), then the log file itself.
// The report is checked against a plain reading of the records: which are listed, the totals,
// the line count, that a report not marked damaged has finite totals, and the CSV export of it.

#include "MemoryLogFile.h"
#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/SessionLogRecord.h"
#include "report/CsvExport.h"
#include "report/WorkReportBuilder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

using namespace ostrel;
using ostrel::fuzz::check;

namespace {

constexpr std::size_t PeriodSize = 17;

double plainDouble(const std::uint8_t* at)
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | at[i];
    return std::bit_cast<double>(bits);
}

bool sameBits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The records the period takes, in the order the report must meet them: those before the first
// record past the period or with a ClosedAt that is no date-time.
std::vector<std::uint64_t> inPeriod(const std::uint8_t* log, std::uint64_t records, double dateBeg, double dateEnd,
                                    bool& stoppedEarly)
{
    std::vector<std::uint64_t> taken;
    stoppedEarly = false;
    for (std::uint64_t i = 0; i < records; ++i) {
        const double closedAt = plainDouble(log + i * SessionLogRecordSize);
        if (!isValidDateTime(closedAt)) {
            stoppedEarly = true;
            break;
        }
        if (dateBeg > closedAt)
            continue;
        if (closedAt >= dateEnd + 1.0) {
            stoppedEarly = true;
            break;
        }
        taken.push_back(i);
    }
    return taken;
}

// Those of the listed records that repeat the previous record of their computer and address in the
// file: closed less than a day after it, with the same Start, Finish, Price and Sum.
std::vector<std::uint64_t> repeatsAmong(const std::uint8_t* log, const std::vector<std::uint64_t>& listed)
{
    std::vector<std::uint64_t> repeats;
    for (const std::uint64_t i : listed) {
        const std::uint8_t* r = log + i * SessionLogRecordSize;
        const std::span<const std::uint8_t, SessionLogRecordSize> bytes(r, SessionLogRecordSize);
        for (std::uint64_t j = i; j-- > 0;) {
            const std::uint8_t* p = log + j * SessionLogRecordSize;
            if (logRecordStation(std::span<const std::uint8_t, SessionLogRecordSize>(p, SessionLogRecordSize)) !=
                logRecordStation(bytes))
                continue;
            const double gap = plainDouble(r) - plainDouble(p);
            if (gap >= 0 && gap < 1.0 && plainDouble(r + 8) == plainDouble(p + 8) &&
                plainDouble(r + 16) == plainDouble(p + 16) && plainDouble(r + 32) == plainDouble(p + 32) &&
                plainDouble(r + 40) == plainDouble(p + 40))
                repeats.push_back(i);
            break;
        }
    }
    return repeats;
}

// The field count of every CSV record (RFC 4180, ';' between fields) up to the first empty line.
std::vector<std::size_t> csvSessionRows(const std::string& csv)
{
    std::vector<std::size_t> rows;
    std::size_t fields = 1;
    bool quoted = false;
    bool empty = true;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted) {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"')
                ++i;
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            ++fields;
        } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
            if (empty)
                break;
            rows.push_back(fields);
            fields = 1;
            empty = true;
            ++i;
            continue;
        }
        empty = false;
    }
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < PeriodSize)
        return 0;
    static fuzz::MemoryLogFile file;
    const double dateBeg = plainDouble(data);
    const double dateEnd = plainDouble(data + 8);
    const std::uint8_t cut = data[16];
    const std::uint8_t* log = data + PeriodSize;
    const std::size_t logSize = size - PeriodSize;
    file.write(log, logSize);

    std::optional<std::uint64_t> length;
    if (cut != 255)
        length = logSize - std::min<std::size_t>(cut, logSize);

    const WorkReportResult report = buildWorkReport(file.path(), dateBeg, dateEnd, length);
    check(report.outcome != WorkReportResult::Outcome::OpenFailed);
    check(report.logMissing == !length);

    // One line per listed session between the header and the totals line, and the count of the
    // repeats left out of the totals after it when there are any.
    check(static_cast<std::size_t>(std::count(report.text.begin(), report.text.end(), '\n')) ==
          report.listed.size() + 1 + (report.repeats.empty() ? 0 : 1));
    check(report.text.compare(0, workReportHeader().size(), workReportHeader()) == 0);
    std::string totals = "Итог:    Сумма: " + report.moneyText + "\tВремя: " + report.time.text();
    if (!report.repeats.empty())
        totals += "\n" + repeatsLeftOutText(report.repeats.size());
    check(report.text.size() >= totals.size() &&
          report.text.compare(report.text.size() - totals.size(), totals.size(), totals) == 0);

    const std::uint64_t records = length ? *length / SessionLogRecordSize : 0;
    check(report.recordsRead <= records);
    bool stoppedEarly = false;
    const std::vector<std::uint64_t> expected = inPeriod(log, records, dateBeg, dateEnd, stoppedEarly);
    check(report.listed.size() <= expected.size());
    check(std::equal(report.listed.begin(), report.listed.end(), expected.begin()));

    check(report.repeats == repeatsAmong(log, report.listed));
    double money = 0;
    double time = 0;
    for (const std::uint64_t i : report.listed) {
        if (std::binary_search(report.repeats.begin(), report.repeats.end(), i))
            continue;
        money += plainDouble(log + i * SessionLogRecordSize + 40);
        time += plainDouble(log + i * SessionLogRecordSize + 24);
    }
    check(sameBits(money, report.moneyTotal) && sameBits(time, report.timeTotal));

    if (!report.damaged()) {
        check(report.listed == expected);
        check(stoppedEarly || !length || *length % SessionLogRecordSize == 0);
        check(std::isfinite(report.moneyTotal) && std::isfinite(report.timeTotal));
        check(formatMoney(report.moneyTotal) == report.moneyText);
        check(splitTimeTotal(report.timeTotal) == report.time);
    }
    // The spreadsheet of the listed sessions: a header row, then one row of ten fields for each.
    const std::optional<std::string> csv = exportWorkReportCsv(file.path(), report.listed, report.repeats);
    check(csv.has_value() && csv->compare(0, 3, "\xEF\xBB\xBF") == 0);
    const std::vector<std::size_t> rows = csvSessionRows(csv->substr(3));
    check(rows.size() == report.listed.size() + 1);
    check(std::all_of(rows.begin(), rows.end(), [](std::size_t n) { return n == 10; }));

    if (report.listed.empty() && !report.damaged())
        check(report.moneyText == "0,00" && report.time == TimeTotal{});
    return 0;
}
