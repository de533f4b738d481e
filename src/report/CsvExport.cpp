#include "report/CsvExport.h"

#include "core/Cp1251.h"
#include "core/Texts.h"
#include "log/LogScan.h"
#include "report/WorkReportBuilder.h"

namespace ostrel {

namespace {

constexpr char Separator = ';';
constexpr std::string_view LineEnd = "\r\n";

// A cell is our own text (a title, a date, a time, an amount, a count) or a station's.
struct Cell
{
    Cell(const char* ours) : text(ours) {}
    Cell(std::string_view ours) : text(ours) {}
    Cell(const std::string& ours) : text(ours) {}
    Cell(std::string_view t, bool station) : text(t), fromStation(station) {}

    std::string_view text;
    bool fromStation = false;
};

Cell stationText(const std::string& utf8)
{
    return {utf8, true};
}

void appendRow(std::string& out, std::initializer_list<Cell> cells)
{
    bool first = true;
    for (const Cell& c : cells) {
        if (!first)
            out += Separator;
        out += c.fromStation ? csvTextField(c.text) : csvField(c.text);
        first = false;
    }
    out += LineEnd;
}

// H:MM:SS, the hours running on past a day, as a spreadsheet reads a duration.
std::string durationText(double days)
{
    const TimeTotal t = splitTimeTotal(days);
    return formatTimeOfDay({.hour = t.hours, .minute = t.minutes, .second = t.seconds});
}

// A totals row: what it sums up, then the sessions, money and time it counted.
void appendTotalsRow(std::string& out, Cell name, std::uint64_t count, double money, double time)
{
    const std::string countText = std::to_string(count);
    const std::string moneyText = formatMoney(money).value_or("");
    const std::string timeText = durationText(time);
    appendRow(out, {name, countText, moneyText, timeText});
}

} // namespace

CsvReport::CsvReport()
{
    m_text = "\xEF\xBB\xBF";
    appendRow(m_text, {"Закрыто", "Компьютер", "Адрес", "Статус", "Цена", "Начало", "Длительность", "Конец", "Сумма",
                       "Коментарий"});
}

bool CsvReport::add(const SessionLogRecord& r, bool repeat)
{
    const auto when = formatDateTime(r.closedAt);
    const auto price = formatMoney(r.price);
    const auto start = formatTime(r.start);
    const auto duration = formatTime(r.duration);
    const auto finish = formatTime(r.finish);
    const auto sum = formatMoney(r.sum);
    if (!when || !price || !start || !duration || !finish || !sum)
        return false;
    const std::string computer = cp1251ToUtf8(r.computer);
    const std::string address = cp1251ToUtf8(r.address);
    const std::string status = cp1251ToUtf8(r.status);
    const std::string comment = cp1251ToUtf8(r.comment);
    appendRow(m_text, {*when, stationText(computer), stationText(address), stationText(status), *price, *start,
                       durationText(r.duration), *finish, *sum, stationText(comment)});
    if (repeat) {
        ++m_repeats;
        return true;
    }
    for (Group* g : {&m_computers[r.computer], &m_tariffs[r.status], &m_all}) {
        ++g->count;
        g->money += r.sum;
        g->time += r.duration;
    }
    return true;
}

bool CsvReport::NaturalLess::operator()(std::string_view a, std::string_view b) const
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (!isDigit(a[i]) || !isDigit(b[j])) {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
            continue;
        }
        // Two runs of digits: the one with more digits after its leading zeros is the greater
        // number; of equal lengths, the first differing digit decides; then the fewer zeros first.
        const std::size_t runA = i;
        const std::size_t runB = j;
        while (i < a.size() && a[i] == '0')
            ++i;
        while (j < b.size() && b[j] == '0')
            ++j;
        const std::size_t digitsA = i;
        const std::size_t digitsB = j;
        while (i < a.size() && isDigit(a[i]))
            ++i;
        while (j < b.size() && isDigit(b[j]))
            ++j;
        const std::string_view numberA = a.substr(digitsA, i - digitsA);
        const std::string_view numberB = b.substr(digitsB, j - digitsB);
        if (numberA.size() != numberB.size())
            return numberA.size() < numberB.size();
        if (numberA != numberB)
            return numberA < numberB;
        if (digitsA - runA != digitsB - runB)
            return digitsA - runA < digitsB - runB;
    }
    return a.size() - i < b.size() - j;
}

void CsvReport::appendGroups(std::string_view title, const Groups& groups)
{
    m_text += LineEnd;
    appendRow(m_text, {title, "Сеансов", "Сумма", "Время"});
    for (const auto& [name, g] : groups)
        appendTotalsRow(m_text, stationText(cp1251ToUtf8(name)), g.count, g.money, g.time);
}

std::string CsvReport::finish()
{
    appendGroups("Компьютер", m_computers);
    appendGroups("Тариф", m_tariffs);
    m_text += LineEnd;
    appendTotalsRow(m_text, "Итог", m_all.count, m_all.money, m_all.time);
    if (m_repeats > 0)
        appendRow(m_text, {repeatsLeftOutText(m_repeats)});
    return std::move(m_text);
}

std::optional<std::string> exportWorkReportCsv(const std::string& logPath, const std::vector<std::uint64_t>& listed,
                                               const std::vector<std::uint64_t>& repeats)
{
    CsvReport csv;
    std::size_t next = 0;
    std::size_t nextRepeat = 0;
    if (!listed.empty()) {
        const std::uint64_t length = (listed.back() + 1) * SessionLogRecordSize;
        const LogScanResult scan = scanLogFile(
            logPath,
            [&](const LogScanEntry& e) {
                if (e.index == listed[next]) {
                    while (nextRepeat < repeats.size() && repeats[nextRepeat] < e.index)
                        ++nextRepeat;
                    const bool repeat = nextRepeat < repeats.size() && repeats[nextRepeat] == e.index;
                    csv.add(decodeLogRecord(e.bytes), repeat);
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
