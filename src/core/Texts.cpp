#include "core/Texts.h"

#include "core/DateTime.h"
#include "core/TextScan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace ostrel {

using textscan::appendNumber;
using textscan::isBlank;
using textscan::isDigit;
using textscan::takeSign;
using textscan::trimBlanks;

namespace {

// One to `maxDigits` decimal digits, nothing else.
std::optional<int> parseDigits(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Three numbers, each with at least its digit count, between the separators.
std::string joinNumbers(char separator, std::array<std::pair<int, int>, 3> numbers)
{
    std::string out;
    for (const auto& [value, minDigits] : numbers) {
        if (!out.empty())
            out += separator;
        appendNumber(out, value, minDigits);
    }
    return out;
}

std::string formatCivilDate(const CivilDate& d)
{
    return joinNumbers(SalonFormat.dateSeparator, {{{d.day, 2}, {d.month, 2}, {d.year, 4}}});
}

// Splits text at each separator; nullopt when it holds more than N fields.
template <std::size_t N>
std::optional<std::size_t> splitFields(std::string_view text, char separator, std::array<std::string_view, N>& fields)
{
    std::size_t count = 0;
    while (true) {
        if (count == N)
            return std::nullopt;
        const std::size_t at = text.find(separator);
        fields[count++] = text.substr(0, at);
        if (at == std::string_view::npos)
            return count;
        text.remove_prefix(at + 1);
    }
}

} // namespace

std::string formatTimeOfDay(const TimeOfDay& t)
{
    return joinNumbers(SalonFormat.timeSeparator, {{{t.hour, 1}, {t.minute, 2}, {t.second, 2}}});
}

std::optional<std::string> formatTime(double x)
{
    const auto t = timeOfDay(x);
    return t ? std::optional(formatTimeOfDay(*t)) : std::nullopt;
}

std::optional<double> parseTime(std::string_view text)
{
    std::array<std::string_view, 3> fields;
    const auto count = splitFields(trimBlanks(text), SalonFormat.timeSeparator, fields);
    if (!count || *count < 2)
        return std::nullopt;
    const auto hour = parseDigits(fields[0], 2);
    const auto minute = parseDigits(fields[1], 2);
    const auto second = *count == 3 ? parseDigits(fields[2], 2) : std::optional<int>(0);
    if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    return encodeTime(*hour, *minute, *second);
}

std::optional<std::string> formatDate(double x)
{
    const auto date = decodeDate(x);
    return date ? std::optional(formatCivilDate(*date)) : std::nullopt;
}

std::optional<double> parseDate(std::string_view text)
{
    std::array<std::string_view, 3> fields;
    const auto count = splitFields(text, SalonFormat.dateSeparator, fields);
    if (!count || *count != 3)
        return std::nullopt;
    const auto day = parseDigits(trimBlanks(fields[0]), 2);
    const auto month = parseDigits(trimBlanks(fields[1]), 2);
    // The year as written, all four digits: "15.05.20" in a masked field is an unfinished date,
    // not the year 20.
    const std::string_view yearText = trimBlanks(fields[2]);
    const auto year = yearText.size() == 4 ? parseDigits(yearText, 4) : std::nullopt;
    if (!day || !month || !year)
        return std::nullopt;
    return encodeDate(*year, *month, *day);
}

namespace {

std::optional<std::string> dateAndTime(double x, bool timeAtMidnight)
{
    const auto parts = splitDateTime(x);
    const auto date = parts ? decodeDate(parts->day) : std::nullopt;
    if (!date)
        return std::nullopt;
    std::string out = formatCivilDate(*date);
    const auto t = timeOfDay(parts->fraction);
    if (t && (timeAtMidnight || t->hour != 0 || t->minute != 0 || t->second != 0)) {
        out += ' ';
        out += formatTimeOfDay(*t);
    }
    return out;
}

} // namespace

std::optional<std::string> formatDateTime(double x)
{
    return dateAndTime(x, false);
}

std::optional<std::string> formatDateAndTime(double x)
{
    return dateAndTime(x, true);
}

std::optional<double> parseDateAndTime(std::string_view text)
{
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    const auto date = parseDate(text.substr(0, blank));
    const auto time = parseTime(text.substr(blank + 1));
    if (!date || !time)
        return std::nullopt;
    return *date + *time;
}

std::string repeatsLeftOutText(std::uint64_t count)
{
    return "Повторных записей не учтено: " + std::to_string(count);
}

Plural pluralOf(std::uint64_t count)
{
    const auto lastTwo = count % 100;
    const auto last = count % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return Plural::Many;
    if (last == 1)
        return Plural::One;
    return last >= 2 && last <= 4 ? Plural::Few : Plural::Many;
}

const char* pick(Plural form, const char* one, const char* few, const char* many)
{
    return form == Plural::One ? one : form == Plural::Few ? few : many;
}

std::string writeErrorText(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "нет места на диске";
    case EIO:
        return "ошибка диска";
    case EACCES:
    case EPERM:
        return "нет доступа к файлу";
    case EROFS:
        return "диск только для чтения";
    case ELOOP:
    case EMLINK:
        return "вместо файла ссылка";
    case EMFILE:
    case ENFILE:
        return "нет свободных дескрипторов";
    case EFBIG:
        return "файл слишком велик";
    case ENOENT:
        return "нет папки журнала";
    default:
        return "ошибка " + std::to_string(error);
    }
}

std::string writeFaultText(const WriteFaultCounts& faults)
{
    std::string text;
    const auto clause = [&text](std::string what) {
        if (!text.empty())
            text += "; ";
        text += what;
    };
    const auto waiting = [](std::size_t count, const char* one, const char* few, const char* many, int error) {
        const Plural form = pluralOf(count);
        return std::to_string(count) + " " + pick(form, one, few, many) +
               (form == Plural::One ? " ждет записи (" : " ждут записи (") + writeErrorText(error) + ")";
    };
    if (faults.sessions > 0)
        clause("Журнал не записан: " + waiting(faults.sessions, "сессия", "сессии", "сессий", faults.sessionsError));
    if (faults.lines > 0)
        clause("Журнал команд не записан: " + waiting(faults.lines, "строка", "строки", "строк", faults.linesError));
    if (faults.stationsError != 0)
        clause("Список компьютеров не записан (" + writeErrorText(faults.stationsError) + ")");
    return text;
}

std::string commandsRefusedText(std::size_t waiting)
{
    return "Команда не отправлена: журнал не записан, ждут записи " + std::to_string(waiting) + " сессий и строк";
}

std::optional<int> parseWholeNumber(std::string_view text)
{
    text = trimBlanks(text);
    const bool negative = takeSign(text);
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{std::numeric_limits<int>::max()} + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return std::nullopt;
    return static_cast<int>(value);
}

std::string_view takeLine(std::string_view& text)
{
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

} // namespace ostrel
