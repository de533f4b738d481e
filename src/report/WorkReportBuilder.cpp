#include "report/WorkReportBuilder.h"

#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/LittleEndian.h"
#include "core/Texts.h"
#include "log/LogScan.h"
#include "log/SessionLogRecord.h"
#include "report/RepeatFinder.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

namespace ostrel {

namespace {

constexpr std::string_view Header = "Время\tКомпьютер\tАдрес\tСтатус\tЦена\tНачало\tВремя\tКонец\tСумма\tКоментарий";
constexpr std::string_view TotalsPrefix = "Итог:    Сумма: ";
constexpr std::string_view TotalsTime = "\tВремя: ";

// Bytes 57..167 of a record hold its four texts. The same few computers, addresses, tariffs and
// comments recur in every log, so their line text is made once per distinct set of those bytes.
constexpr std::size_t TextsSize = SessionLogRecordSize - LogScrambleBegin;

// A stored text as one cell of a report line. A TAB, CR or LF in it (a station may send any bytes)
// would split the session's line or shift its columns, so each becomes a blank.
std::string cellText(const std::string& cp1251)
{
    std::string text = cp1251ToUtf8(cp1251);
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

struct TextsLine
{
    std::string middle;  // "\tcomputer\taddress\tstatus\t", UTF-8
    std::string comment; // UTF-8
};

class TextsCache
{
public:
    // nullptr when a text's length byte lies beyond its field.
    const TextsLine* find(std::span<const std::uint8_t, SessionLogRecordSize> bytes)
    {
        const std::string_view key(reinterpret_cast<const char*>(bytes.data() + LogScrambleBegin), TextsSize);
        if (auto it = m_map.find(key); it != m_map.end())
            return &it->second;
        if (!logRecordLengthsValid(bytes))
            return nullptr;
        if (m_map.size() > 100'000)
            m_map.clear(); // a log of ever new names: keep memory bounded
        const SessionLogRecord r = decodeLogRecord(bytes);
        TextsLine line;
        for (const auto* cell : {&r.computer, &r.address, &r.status}) {
            line.middle += '\t';
            line.middle += cellText(*cell);
        }
        line.middle += '\t';
        line.comment = cellText(r.comment);
        return &m_map.emplace(std::string(key), std::move(line)).first->second;
    }

private:
    struct Hash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, TextsLine, Hash, std::equal_to<>> m_map;
};

// The record's numbers are stored plain and little-endian at the start of the record.
double numberAt(std::span<const std::uint8_t, SessionLogRecordSize> bytes, std::size_t offset)
{
    return readLe<double>(bytes, offset);
}

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
    double dateAfter; // DateEnd + 1 day, or a shift's end
    WorkReportResult& out;
    TextsCache texts;
    MoneyCache prices;
    RepeatFinder repeats;
    bool damaged = false;

    // False to stop the reading: past the period, or damaged.
    bool take(const LogScanEntry& entry)
    {
        if (!isValidDateTime(entry.closedAt)) {
            damaged = true;
            return false;
        }
        if (dateBeg > entry.closedAt) {
            // Only what a session of the period may repeat: the day before it. An older record met
            // after those (a log out of order) is still its station's previous record.
            if (entry.closedAt >= dateBeg - 1.0)
                repeats.take(entry);
            else
                repeats.forget(entry);
            return true;
        }
        if (entry.closedAt >= dateAfter)
            return false;
        if (!appendLine(entry)) {
            damaged = true;
            return false;
        }
        out.listed.push_back(entry.index);
        return true;
    }

    bool appendLine(const LogScanEntry& entry)
    {
        const TextsLine* line = texts.find(entry.bytes);
        if (!line)
            return false;
        const bool repeat = repeats.take(entry);
        const double sumValue = numberAt(entry.bytes, 40);
        const double durationValue = numberAt(entry.bytes, 24);
        const auto when = formatDateTime(entry.closedAt);
        const auto& price = prices.text(numberAt(entry.bytes, 8));
        const auto start = formatTime(numberAt(entry.bytes, 16));
        const auto duration = formatTime(durationValue);
        const auto finish = formatTime(numberAt(entry.bytes, 32));
        const auto sum = formatMoney(sumValue);
        // Amounts far beyond any session's can take a total past the largest double, which has no
        // text form: such a record is damage like one whose own amount has none.
        // A repeat is listed as logged but counts nothing: its session counted once already.
        const double moneyTotal = repeat ? out.moneyTotal : out.moneyTotal + sumValue;
        const double timeTotal = repeat ? out.timeTotal : out.timeTotal + durationValue;
        if (!when || !price || !start || !duration || !finish || !sum || !std::isfinite(moneyTotal) ||
            !std::isfinite(timeTotal))
            return false;
        std::string& t = out.text;
        t.append(1, '\n').append(*when).append(line->middle).append(*price);
        t.append(1, '\t').append(*start).append(1, '\t').append(*duration).append(1, '\t').append(*finish);
        t.append(1, '\t').append(*sum).append(1, '\t').append(line->comment);
        out.moneyTotal = moneyTotal;
        out.timeTotal = timeTotal;
        out.hourly.addSession(entry.closedAt, durationValue, sumValue, !repeat);
        if (repeat)
            out.repeats.push_back(entry.index);
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
    return buildWorkReportSpan(logPath, dateBeg, dateEnd + 1.0, length);
}

WorkReportResult buildWorkReportSpan(const std::string& logPath, double dateBeg, double dateAfter,
                                     std::optional<std::uint64_t> length)
{
    WorkReportResult out;
    out.text = Header;
    out.hourly = HourlyLoad(dateBeg, dateAfter);
    if (length) {
        // No reserve from the log's length: the text grows with the sessions of the period only,
        // and a report of one day over a log of years stays small.
        Builder builder{dateBeg, dateAfter, out, {}, {}, {}};
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
    if (!out.repeats.empty()) {
        out.text += '\n';
        out.text += repeatsLeftOutText(out.repeats.size());
    }
    return out;
}

} // namespace ostrel
