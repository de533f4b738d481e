#include "chain/ChainSchema.h"

#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/AuditCheck.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace ostrel {

namespace {

std::string pad(int value, int width)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    return buffer;
}

std::string clockText(const TimeOfDay& t)
{
    return pad(t.hour, 2) + ":" + pad(t.minute, 2) + ":" + pad(t.second, 2) + "." + pad(t.millisecond, 3);
}

void field(std::string& out, const std::optional<std::string>& value)
{
    out += '\t';
    if (value)
        appendCopyText(out, *value);
    else
        out += CopyNull;
}

void textField(std::string& out, std::string_view text)
{
    out += '\t';
    appendCopyText(out, text);
}

// numeric(12,2) holds less than 10^10.
constexpr std::int64_t MoneyLimitKopecks = 1'000'000'000'000;

} // namespace

std::string ChainTable::columnList() const
{
    std::string list;
    for (const Column& c : columns) {
        if (!list.empty())
            list += ", ";
        list += c.name;
    }
    return list;
}

std::string ChainTable::createStatement() const
{
    std::string sql = "CREATE TABLE IF NOT EXISTS " + std::string(name) + " (";
    for (const Column& c : columns)
        sql += std::string(c.name) + " " + std::string(c.type) + ", ";
    sql += "PRIMARY KEY (" + std::string(columns[0].name) + ", " + std::string(columns[1].name) + "))";
    return sql;
}

const ChainTable& sessionsTable()
{
    static const ChainTable table{"ostrel_sessions",
                                  "ostrel_sessions_batch",
                                  {{"salon", "text NOT NULL"},
                                   {"log_offset", "bigint NOT NULL"},
                                   {"closed_at", "timestamp"},
                                   {"computer", "text"},
                                   {"address", "text"},
                                   {"tariff", "text"},
                                   {"price", "numeric(12,2)"},
                                   {"started", "time"},
                                   {"duration", "interval"},
                                   {"finished", "time"},
                                   {"sum", "numeric(12,2)"},
                                   {"comment", "text"},
                                   {"repeated", "boolean"}}};
    return table;
}

const ChainTable& commandsTable()
{
    static const ChainTable table{"ostrel_commands",
                                  "ostrel_commands_batch",
                                  {{"salon", "text NOT NULL"},
                                   {"line_number", "bigint NOT NULL"},
                                   {"at", "timestamp"},
                                   {"operator", "text"},
                                   {"computer", "text"},
                                   {"address", "text"},
                                   {"command", "text"},
                                   {"tariff", "text"},
                                   {"price", "text"},
                                   {"minutes", "text"},
                                   {"result", "text"},
                                   {"damaged", "text"},
                                   {"line", "text"}}};
    return table;
}

const ChainTable& cashTable()
{
    static const ChainTable table{"ostrel_cash",
                                  "ostrel_cash_batch",
                                  {{"salon", "text NOT NULL"},
                                   {"line_number", "bigint NOT NULL"},
                                   {"at", "timestamp"},
                                   {"operator", "text"},
                                   {"shift_from", "timestamp"},
                                   {"shift_until", "timestamp"},
                                   {"sessions", "bigint"},
                                   {"computed", "numeric(14,2)"},
                                   {"counted", "numeric(14,2)"},
                                   {"difference", "numeric(14,2)"},
                                   {"comment", "text"},
                                   {"damaged", "text"},
                                   {"line", "text"}}};
    return table;
}

const ChainTable& stationsNowTable()
{
    static const ChainTable table{"ostrel_stations_now",
                                  "ostrel_stations_now_batch",
                                  {{"salon", "text NOT NULL"},
                                   {"row_number", "integer NOT NULL"},
                                   {"computer", "text"},
                                   {"address", "text"},
                                   {"status", "text"},
                                   {"price", "text"},
                                   {"start", "text"},
                                   {"sum", "text"},
                                   {"updated", "timestamp"}}};
    return table;
}

void appendCopyText(std::string& line, std::string_view text)
{
    if (!isValidUtf8(text)) {
        appendCopyText(line, cp1251ToUtf8(text));
        return;
    }
    for (const char c : text) {
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\0':
            break;
        default:
            line += c;
        }
    }
}

std::optional<std::string> sqlTimestamp(double dayNumber)
{
    const auto parts = splitDateTime(dayNumber);
    if (!parts)
        return std::nullopt;
    const auto date = decodeDate(parts->day);
    const auto time = timeOfDay(parts->fraction);
    if (!date || !time)
        return std::nullopt;
    return pad(date->year, 4) + "-" + pad(date->month, 2) + "-" + pad(date->day, 2) + " " + clockText(*time);
}

std::optional<std::string> sqlTimeOfDay(double dayNumber)
{
    const auto time = timeOfDay(dayNumber);
    if (!time)
        return std::nullopt;
    return clockText(*time);
}

std::optional<std::string> sqlInterval(double days)
{
    const auto ms = toMilliseconds(days);
    // An interval holds about 178 million years; a session's span beyond a million days is damage.
    if (!ms || std::llabs(*ms) >= 86'400'000'000'000LL)
        return std::nullopt;
    const std::int64_t whole = *ms / 1000;
    const std::int64_t rest = std::llabs(*ms % 1000);
    // -0.250: the sign of a span under a second is not in its whole seconds.
    std::string text = *ms < 0 && whole == 0 ? "-" : "";
    text += std::to_string(whole);
    text += '.';
    text += pad(static_cast<int>(rest), 3);
    text += " seconds";
    return text;
}

std::string sqlKopecks(std::int64_t kopecks)
{
    const std::uint64_t magnitude =
        kopecks < 0 ? 0 - static_cast<std::uint64_t>(kopecks) : static_cast<std::uint64_t>(kopecks);
    std::string text = kopecks < 0 ? "-" : "";
    text += std::to_string(magnitude / 100);
    text += '.';
    text += pad(static_cast<int>(magnitude % 100), 2);
    return text;
}

std::optional<std::string> sqlMoney(double amount)
{
    const auto kopecks = toKopecks(amount);
    if (!kopecks || *kopecks >= MoneyLimitKopecks || *kopecks <= -MoneyLimitKopecks)
        return std::nullopt;
    return sqlKopecks(*kopecks);
}

void appendSessionRow(std::string& out, std::string_view salon, std::uint64_t offset, const SessionLogRecord& r,
                      bool repeated)
{
    out += salon;
    out += '\t';
    out += std::to_string(offset);
    field(out, sqlTimestamp(r.closedAt));
    textField(out, cp1251ToUtf8(r.computer));
    textField(out, cp1251ToUtf8(r.address));
    textField(out, cp1251ToUtf8(r.status));
    field(out, sqlMoney(r.price));
    field(out, sqlTimeOfDay(r.start));
    field(out, sqlInterval(r.duration));
    field(out, sqlTimeOfDay(r.finish));
    field(out, sqlMoney(r.sum));
    textField(out, cp1251ToUtf8(r.comment));
    out += repeated ? "\tt\n" : "\tf\n";
}

void appendCommandRow(std::string& out, std::string_view salon, std::uint64_t lineNumber, std::string_view text,
                      const AuditLineCheck& check)
{
    out += salon;
    out += '\t';
    out += std::to_string(lineNumber);
    if (check.fault || check.fields.size() != AuditFieldCount) {
        // A damaged line keeps its place and its text; its fields stay empty.
        for (std::size_t i = 0; i < AuditFieldCount; ++i)
            field(out, std::nullopt);
        field(out, check.fault.value_or("damaged"));
    } else {
        const auto& f = check.fields;
        const auto at = parseDateAndTime(f[0]);
        field(out, at ? sqlTimestamp(*at) : std::nullopt);
        for (std::size_t i = 1; i < AuditFieldCount; ++i)
            textField(out, f[i]);
        field(out, std::nullopt);
    }
    textField(out, text);
    out += '\n';
}

void appendCashRow(std::string& out, std::string_view salon, std::uint64_t lineNumber, std::string_view text,
                   const CashLineCheck& check)
{
    out += salon;
    out += '\t';
    out += std::to_string(lineNumber);
    if (!check.cashUp) {
        for (int i = 0; i < 9; ++i)
            field(out, std::nullopt);
        field(out, check.fault.value_or("damaged"));
    } else {
        const CashUp& c = *check.cashUp;
        field(out, sqlTimestamp(c.at));
        textField(out, c.user);
        field(out, sqlTimestamp(c.from));
        field(out, sqlTimestamp(c.until));
        textField(out, std::to_string(c.sessions));
        textField(out, sqlKopecks(c.computed));
        textField(out, sqlKopecks(c.counted));
        textField(out, sqlKopecks(c.difference()));
        textField(out, c.comment);
        field(out, std::nullopt);
    }
    textField(out, text);
    out += '\n';
}

void appendStationRow(std::string& out, std::string_view salon, int row, const HallRow& s, std::string_view updated)
{
    out += salon;
    out += '\t';
    out += std::to_string(row);
    for (const std::string* text : {&s.computer, &s.address, &s.status, &s.price, &s.start, &s.sum})
        textField(out, cp1251ToUtf8(*text));
    textField(out, updated);
    out += '\n';
}

} // namespace ostrel
