#include "report/CsvExport.h"

#include "core/Cp1251.h"
#include "core/Texts.h"
#include "log/LogScan.h"
#include "report/WorkReportBuilder.h"

namespace ostrel {

namespace {

constexpr char Separator = ';';
constexpr std::string_view LineEnd = "\r\n";

void appendRow(std::string& out, std::initializer_list<std::string_view> fields)
{
    bool first = true;
    for (const std::string_view f : fields) {
        if (!first)
            out += Separator;
        out += csvField(f);
        first = false;
    }
    out += LineEnd;
}

// H:MM:SS, the hours running on past a day, as a spreadsheet reads a duration.
std::string durationText(double days)
{
    const TimeTotal t = splitTimeTotal(days);
    auto twoDigits = [](unsigned v) { return std::string(v < 10 ? "0" : "") + std::to_string(v); };
    return std::to_string(t.hours) + ":" + twoDigits(t.minutes) + ":" + twoDigits(t.seconds);
}

} // namespace

std::string csvField(std::string_view utf8)
{
    if (utf8.find_first_of(";\"\r\n") == std::string_view::npos)
        return std::string(utf8);
    std::string quoted = "\"";
    for (const char c : utf8) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

CsvReport::CsvReport()
{
    m_text = "\xEF\xBB\xBF";
    appendRow(m_text,
              {"Время", "Компьютер", "Адрес", "Статус", "Цена", "Начало", "Время", "Конец", "Сумма", "Коментарий"});
}

bool CsvReport::add(const SessionLogRecord& r)
{
    const auto when = formatDateTime(r.closedAt);
    const auto price = formatMoney(r.price);
    const auto start = formatTime(r.start);
    const auto duration = formatTime(r.duration);
    const auto finish = formatTime(r.finish);
    const auto sum = formatMoney(r.sum);
    if (!when || !price || !start || !duration || !finish || !sum)
        return false;
    appendRow(m_text, {*when, cp1251ToUtf8(r.computer), cp1251ToUtf8(r.address), cp1251ToUtf8(r.status), *price, *start,
                       durationText(r.duration), *finish, *sum, cp1251ToUtf8(r.comment)});
    for (Group* g : {&m_computers[r.computer], &m_tariffs[r.status], &m_all}) {
        ++g->count;
        g->money += r.sum;
        g->time += r.duration;
    }
    return true;
}

void CsvReport::appendGroups(std::string_view title, const std::map<std::string, Group>& groups)
{
    m_text += LineEnd;
    appendRow(m_text, {title, "Сеансов", "Сумма", "Время"});
    for (const auto& [name, g] : groups)
        appendRow(m_text, {cp1251ToUtf8(name), std::to_string(g.count), formatMoney(g.money).value_or(""),
                           durationText(g.time)});
}

std::string CsvReport::finish()
{
    appendGroups("Компьютер", m_computers);
    appendGroups("Тариф", m_tariffs);
    m_text += LineEnd;
    appendRow(m_text,
              {"Итог", std::to_string(m_all.count), formatMoney(m_all.money).value_or(""), durationText(m_all.time)});
    return std::move(m_text);
}

std::optional<std::string> exportWorkReportCsv(const std::string& logPath, const std::vector<std::uint64_t>& listed)
{
    CsvReport csv;
    std::size_t next = 0;
    if (!listed.empty()) {
        const std::uint64_t length = (listed.back() + 1) * SessionLogRecordSize;
        const LogScanResult scan = scanLogFile(
            logPath,
            [&](const LogScanEntry& e) {
                if (e.index == listed[next]) {
                    csv.add(decodeLogRecord(e.bytes));
                    ++next;
                }
                return next < listed.size();
            },
            length);
        if (next < listed.size() || (scan.status != LogScanStatus::Stopped && scan.status != LogScanStatus::Complete))
            return std::nullopt;
    }
    return csv.finish();
}

} // namespace ostrel
