#include "log/AuditLine.h"

#include "core/Cp1251.h"
#include "core/CsvField.h"
#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/AuditTexts.h"

#include <algorithm>

namespace ostrel {

namespace {

// A byte order mark, so that a spreadsheet does not guess a code page.
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

std::string oneLine(std::string text)
{
    std::ranges::replace(text, '\r', ' ');
    std::ranges::replace(text, '\n', ' ');
    return text;
}

std::string outsideText(std::string_view cp1251)
{
    return csvTextField(oneLine(cp1251ToUtf8(cp1251)));
}

std::string_view resultWords(AuditResult result)
{
    switch (result) {
    case AuditResult::Sent:
        return audit::Sent;
    case AuditResult::NoConnection:
        return audit::NoConnection;
    case AuditResult::NotDelivered:
        return audit::NotDelivered;
    }
    return {};
}

} // namespace

std::string auditHeaderLine()
{
    return std::string(ByteOrderMark) + std::string(audit::Header) + std::string(AuditLineEnd);
}

std::string auditLine(const AuditEntry& entry, std::string_view user)
{
    std::string line = formatDateAndTime(entry.at).value_or(std::string());
    const auto add = [&line](const std::string& field) {
        line += ';';
        line += field;
    };
    add(csvTextField(oneLine(std::string(entry.automatic ? audit::Automatic : user))));
    add(outsideText(entry.station));
    add(outsideText(entry.address));
    add(csvField(oneLine(entry.command)));
    add(outsideText(entry.tariff));
    add(entry.price ? formatMoney(*entry.price).value_or("") : "");
    add(entry.minutes ? std::to_string(*entry.minutes) : "");
    add(std::string(resultWords(entry.result)));
    line += AuditLineEnd;
    return line;
}

} // namespace ostrel
