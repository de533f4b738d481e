#include "LogTextWriter.h"

#include "core/Cp1251.h"
#include "core/Texts.h"

#include <charconv>
#include <cmath>

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

void appendCsvField(std::string& out, const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

std::string LogTextWriter::dateTime(double x)
{
    const auto date = formatDate(x);
    const auto time = formatTime(x);
    if (!date || !time)
        return rawNumber(x);
    return *date + ' ' + *time;
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

void LogTextWriter::dumpHeader(std::string& out)
{
    out += "#\tClosedAt\tComputer\tAddress\tStatus\tPrice\tStart\tDuration\tFinish\tSum\tComment\n";
}

void LogTextWriter::dumpLine(std::string& out, std::uint64_t index, const SessionLogRecord& r)
{
    char buf[24];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, index).ptr);
    out += '\t';
    out += dateTime(r.closedAt);
    out += '\t';
    appendEscaped(out, r.computer);
    out += '\t';
    appendEscaped(out, r.address);
    out += '\t';
    appendEscaped(out, r.status);
    out += '\t';
    out += money(r.price);
    out += '\t';
    out += time(r.start);
    out += '\t';
    out += time(r.duration);
    out += '\t';
    out += time(r.finish);
    out += '\t';
    out += money(r.sum);
    out += '\t';
    appendEscaped(out, r.comment);
    out += '\n';
}

void LogTextWriter::csvHeader(std::string& out)
{
    out += "ClosedAt,Computer,Address,Status,Price,Start,Duration,Finish,Sum,Comment\r\n";
}

void LogTextWriter::csvLine(std::string& out, const SessionLogRecord& r)
{
    appendCsvField(out, dateTime(r.closedAt));
    out += ',';
    appendCsvField(out, cp1251ToUtf8(r.computer));
    out += ',';
    appendCsvField(out, cp1251ToUtf8(r.address));
    out += ',';
    appendCsvField(out, cp1251ToUtf8(r.status));
    out += ',';
    appendCsvField(out, money(r.price));
    out += ',';
    appendCsvField(out, time(r.start));
    out += ',';
    appendCsvField(out, time(r.duration));
    out += ',';
    appendCsvField(out, time(r.finish));
    out += ',';
    appendCsvField(out, money(r.sum));
    out += ',';
    appendCsvField(out, cp1251ToUtf8(r.comment));
    out += "\r\n";
}

} // namespace ostrel
