#include "report/WorkReportBuilder.h"

#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/LogScan.h"
#include "log/SessionLogRecord.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

namespace ostrel {

namespace {

constexpr std::string_view Header = "Время\tКомпьютер\tАдрес\tСтатус\tЦена\tНачало\tВремя\tКонец\tСумма\tКоментарий";
constexpr std::string_view TotalsPrefix = "Итог:    Сумма: ";
constexpr std::string_view TotalsTime = "\tВремя: ";

// The same few computers, addresses, tariffs and comments recur in every log; converting each
// distinct text once keeps a million-line report cheap.
class TextCache
{
public:
    const std::string& utf8(const std::string& cp1251)
    {
        auto it = m_map.find(cp1251);
        if (it == m_map.end()) {
            if (m_map.size() > 4096)
                m_map.clear();
            it = m_map.emplace(cp1251, cp1251ToUtf8(cp1251)).first;
        }
        return it->second;
    }

private:
    std::unordered_map<std::string, std::string> m_map;
};

// Prices repeat from session to session.
class MoneyCache
{
public:
    const std::optional<std::string>& text(double value)
    {
        if (!m_valid || std::memcmp(&value, &m_value, sizeof value) != 0) {
            m_value = value;
            m_text = formatMoney(value);
            m_valid = true;
        }
        return m_text;
    }

private:
    double m_value = 0;
    std::optional<std::string> m_text;
    bool m_valid = false;
};

struct Builder
{
    double dateBeg;
    double dateAfter; // DateEnd + 1 day
    WorkReportResult& out;
    TextCache computers, addresses, statuses, comments;
    MoneyCache prices, sums;
    bool damaged = false;

    // False to stop the reading: past the period, or damaged.
    bool take(const LogScanEntry& entry)
    {
        if (!isValidDateTime(entry.closedAt)) {
            damaged = true;
            return false;
        }
        if (dateBeg > entry.closedAt)
            return true;
        if (entry.closedAt >= dateAfter)
            return false;
        if (!logRecordLengthsValid(entry.bytes) || !appendLine(entry)) {
            damaged = true;
            return false;
        }
        out.listed.push_back(entry.index);
        return true;
    }

    bool appendLine(const LogScanEntry& entry)
    {
        const SessionLogRecord r = decodeLogRecord(entry.bytes);
        const auto when = formatDateTime(r.closedAt);
        const auto& price = prices.text(r.price);
        const auto start = formatTime(r.start);
        const auto duration = formatTime(r.duration);
        const auto finish = formatTime(r.finish);
        const auto& sum = sums.text(r.sum);
        if (!when || !price || !start || !duration || !finish || !sum)
            return false;
        std::string& t = out.text;
        t += '\n';
        t += *when;
        t += '\t';
        t += computers.utf8(r.computer);
        t += '\t';
        t += addresses.utf8(r.address);
        t += '\t';
        t += statuses.utf8(r.status);
        t += '\t';
        t += *price;
        t += '\t';
        t += *start;
        t += '\t';
        t += *duration;
        t += '\t';
        t += *finish;
        t += '\t';
        t += *sum;
        t += '\t';
        t += comments.utf8(r.comment);
        out.moneyTotal += r.sum;
        out.timeTotal += r.duration;
        return true;
    }
};

} // namespace

std::string TimeTotal::text() const
{
    return std::to_string(hours) + ":" + std::to_string(minutes) + ":" + std::to_string(seconds);
}

TimeTotal splitTimeTotal(double days)
{
    // Beyond 2^53 ms the sum has lost whole seconds anyway; such a total is not a real one.
    constexpr double Limit = 9.0e15;
    const double ms = std::round(days * static_cast<double>(MillisecondsPerDay));
    if (!std::isfinite(ms) || std::fabs(ms) >= Limit)
        return {};
    const auto totalMs = static_cast<std::int64_t>(ms);
    const std::int64_t wholeDays = totalMs / MillisecondsPerDay;
    const std::int64_t n = (totalMs % MillisecondsPerDay) / 1000; // whole seconds of the last partial day
    TimeTotal t;
    t.seconds = static_cast<std::uint16_t>(n % 60);
    t.minutes = static_cast<std::uint16_t>((n / 60) % 60);
    t.hours = static_cast<std::uint16_t>((n / 3600 + wholeDays * 24) & 0xFFFF);
    return t;
}

std::string_view workReportHeader()
{
    return Header;
}

WorkReportResult buildWorkReport(const std::string& logPath, double dateBeg, double dateEnd,
                                 std::optional<std::uint64_t> length)
{
    WorkReportResult out;
    out.text = Header;
    if (length) {
        // About 110 bytes a line; reserving for every record spares the copies of a growing text.
        const std::uint64_t records = *length / SessionLogRecordSize;
        if (records < 20'000'000)
            out.text.reserve(Header.size() + static_cast<std::size_t>(records) * 112 + 64);
        Builder builder{dateBeg, dateEnd + 1.0, out, {}, {}, {}, {}, {}, {}};
        const LogScanResult scan = scanLogFile(
            logPath, [&builder](const LogScanEntry& e) { return builder.take(e); }, length);
        out.recordsRead = scan.records;
        switch (scan.status) {
        case LogScanStatus::Missing:
            out.logMissing = true;
            break;
        case LogScanStatus::OpenFailed:
            out.outcome = WorkReportResult::Outcome::OpenFailed;
            out.error = scan.error;
            out.text.clear();
            return out;
        case LogScanStatus::ReadFailed:
            out.outcome = WorkReportResult::Outcome::Damaged;
            out.error = scan.error;
            break;
        case LogScanStatus::Stopped:
        case LogScanStatus::Complete:
            if (builder.damaged || scan.fragmentBytes > 0)
                out.outcome = WorkReportResult::Outcome::Damaged;
            break;
        }
    } else {
        out.logMissing = true;
    }
    out.moneyText = formatMoney(out.moneyTotal).value_or("0,00");
    out.time = splitTimeTotal(out.timeTotal);
    out.text += '\n';
    out.text += TotalsPrefix;
    out.text += out.moneyText;
    out.text += TotalsTime;
    out.text += out.time.text();
    return out;
}

} // namespace ostrel
