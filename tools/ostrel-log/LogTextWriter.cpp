#include "LogTextWriter.h"

#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/Texts.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

namespace ostrel {

namespace {

std::string rawNumber(double x)
{
    if (std::isnan(x))
        return "NaN";
    if (std::isinf(x))
        return x > 0 ? "Inf" : "-Inf";
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x);
    return ec == std::errc() ? std::string(buf, end) : "?";
}

// Control bytes would break the one-line-per-record layout of the dump.
void appendEscaped(std::string& out, const std::string& bytes)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    for (const char c : cp1251ToUtf8(bytes)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '\\') {
            out += '\\';
            if (c == '\\') {
                out += '\\';
                continue;
            }
            out += 'x';
            out += Hex[u >> 4];
            out += Hex[u & 0xF];
        } else {
            out += c;
        }
    }
}

std::string formatDay(double day)
{
    const auto date = formatDate(day);
    return date ? *date : std::string();
}

} // namespace

std::string LogTextWriter::dateTime(double x)
{
    LogTextWriter writer;
    return writer.closedAtText(x);
}

std::string LogTextWriter::money(double x)
{
    const auto m = formatMoney(x);
    return m ? *m : rawNumber(x);
}

std::string LogTextWriter::time(double x)
{
    const auto t = formatTime(x);
    return t ? *t : rawNumber(x);
}

const std::string& LogTextWriter::memoized(Memo& memo, double value, std::string (*format)(double))
{
    // Bitwise, so that NaN payloads and -0 are told apart and the comparison is never false for a repeat.
    if (!memo.valid || std::memcmp(&memo.value, &value, sizeof value) != 0) {
        memo.text = format(value);
        memo.value = value;
        memo.valid = true;
    }
    return memo.text;
}

const std::string& LogTextWriter::closedAtText(double x)
{
    const auto parts = splitDateTime(x);
    const std::string& date = parts ? memoized(m_day, parts->day, formatDay) : std::string();
    const auto time = parts ? formatTime(parts->fraction) : std::nullopt;
    if (date.empty() || !time) {
        m_closedAt = rawNumber(x);
        return m_closedAt;
    }
    m_closedAt = date;
    m_closedAt += ' ';
    m_closedAt += *time;
    return m_closedAt;
}

void LogTextWriter::dumpHeader(std::string& out)
{
    out += "#\tClosedAt\tComputer\tAddress\tStatus\tPrice\tStart\tDuration\tFinish\tSum\tComment\n";
}

template <typename Text, typename Number>
void LogTextWriter::appendFields(std::string& out, const SessionLogRecord& r, Text text, Number number)
{
    const std::string start = time(r.start);
    const std::string duration = time(r.duration);
    const std::string finish = time(r.finish);
    const std::pair<const std::string*, bool> fields[] = {
        {&closedAtText(r.closedAt), false},          {&r.computer, true}, {&r.address, true}, {&r.status, true},
        {&memoized(m_price, r.price, money), false}, {&start, false},     {&duration, false}, {&finish, false},
        {&memoized(m_sum, r.sum, money), false},     {&r.comment, true}};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (i > 0)
            out += '\t';
        if (fields[i].second)
            text(out, *fields[i].first);
        else
            number(out, *fields[i].first);
    }
}

void LogTextWriter::dumpLine(std::string& out, std::uint64_t index, const SessionLogRecord& r)
{
    char buf[24];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, index).ptr);
    out += '\t';
    appendFields(out, r, appendEscaped, [](std::string& o, const std::string& number) { o += number; });
    out += '\n';
}

} // namespace ostrel
