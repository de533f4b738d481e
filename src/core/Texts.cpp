#include "core/Texts.h"

#include "core/DateTime.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace ostrel {

namespace {

constexpr int MoneySignificantDigits = 5;
constexpr int MoneyDecimals = 2;
constexpr int MoneyScaleDigits = 4; // the fixed-point money read back keeps four decimals

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Drops a leading '-' or '+'; true for '-'.
bool takeSign(std::string_view& text)
{
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+'))
        text.remove_prefix(1);
    return negative;
}

void appendNumber(std::string& out, int value, int minDigits)
{
    char buffer[16];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    const auto length = static_cast<int>(end - buffer);
    for (int i = length; i < minDigits; ++i)
        out += '0';
    out.append(buffer, end);
}

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

std::optional<std::string> formatMoney(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;

    // The amount as decimal digits: the shortest text that reads back as this double, which is the
    // amount as it was written or computed (1234.25, 2.675), not the binary fraction a little above
    // or below it. Ties are decided on these digits, away from zero, as a cashier rounds.
    char sci[32];
    const auto sciEnd =
        std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific).ptr; // "d.ddde+xx"
    const std::string_view sciText(sci, static_cast<std::size_t>(sciEnd - sci));
    const std::size_t ePos = sciText.find('e');
    int exponent = 0; // of the first digit
    std::from_chars(sciText.data() + ePos + (sciText[ePos + 1] == '+' ? 2 : 1), sciEnd, exponent);
    std::string digits;
    for (const char c : sciText.substr(0, ePos))
        if (isDigit(c))
            digits += c;

    // One rounding, at the coarser of the fifth significant digit and the second decimal: rounding
    // twice could carry a digit that a single rounding does not. `place` is the power of ten of the
    // last digit kept.
    const int place = std::max(exponent - (MoneySignificantDigits - 1), -MoneyDecimals);
    const int keep = exponent - place + 1; // at most five; zero or less when the amount is below the last place
    std::string kept;
    bool roundUp = false;
    if (keep > 0) {
        const auto count = static_cast<std::size_t>(keep);
        kept = digits.substr(0, count);
        kept.resize(count, '0');
        roundUp = count < digits.size() && digits[count] >= '5';
    } else {
        roundUp = keep == 0 && digits[0] >= '5';
    }
    if (roundUp) {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9')
            kept[--i] = '0';
        if (i == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[i - 1];
    }
    if (kept.find_first_not_of('0') == std::string::npos)
        return std::string("0") + SalonFormat.decimalSeparator + "00"; // no "-0,00"

    std::string out = std::signbit(value) ? "-" : "";
    const int leading = static_cast<int>(kept.size()) - 1 + place; // power of ten of the first digit
    if (leading >= MoneySignificantDigits) {
        // Six or more digits before the comma: exponent form, trailing zeros dropped.
        kept.erase(kept.find_last_not_of('0') + 1);
        out += kept[0];
        if (kept.size() > 1) {
            out += SalonFormat.decimalSeparator;
            out.append(kept, 1);
        }
        out += 'E';
        appendNumber(out, leading, 1);
        return out;
    }

    // Fixed form with two decimals: the kept digits end at `place`, which is -2, -1 or 0 here.
    const auto decimals = static_cast<std::size_t>(-place);
    if (kept.size() <= decimals)
        kept.insert(0, decimals + 1 - kept.size(), '0');
    out.append(kept, 0, kept.size() - decimals);
    out += SalonFormat.decimalSeparator;
    std::string fraction = kept.substr(kept.size() - decimals);
    fraction.resize(MoneyDecimals, '0');
    return out + fraction;
}

std::optional<double> parseMoney(std::string_view text)
{
    text = trimBlanks(text);
    const bool negative = takeSign(text);

    // Significant digits without leading zeros; the value is 0.<digits> x 10^point.
    std::string digits;
    long point = 0;
    bool anyDigit = false;
    bool afterSeparator = false;
    std::size_t pos = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == SalonFormat.decimalSeparator && !afterSeparator) {
            afterSeparator = true;
            continue;
        }
        if (!isDigit(c))
            break;
        anyDigit = true;
        if (digits.empty() && c == '0') {
            if (afterSeparator)
                --point;
            continue;
        }
        digits += c;
        if (!afterSeparator)
            ++point;
    }
    if (!anyDigit)
        return std::nullopt;

    if (pos < text.size()) {
        if (text[pos] != 'E' && text[pos] != 'e')
            return std::nullopt;
        ++pos;
        bool negativeExponent = false;
        if (pos < text.size() && (text[pos] == '-' || text[pos] == '+'))
            negativeExponent = text[pos++] == '-';
        if (pos == text.size())
            return std::nullopt;
        long exponent = 0;
        for (; pos < text.size(); ++pos) {
            if (!isDigit(text[pos]))
                return std::nullopt;
            if (exponent < 100'000) // beyond any money value either way; stop counting
                exponent = exponent * 10 + (text[pos] - '0');
        }
        point += negativeExponent ? -exponent : exponent;
    }
    if (digits.empty())
        return 0.0;

    // The units of the fixed point are 1/10000: keep point + 4 digits, round on the next one.
    const long kept = point + MoneyScaleDigits;
    if (kept > std::numeric_limits<std::int64_t>::digits10 + 1)
        return std::nullopt;
    if (kept < 0)
        return 0.0;
    std::uint64_t units = 0;
    for (long i = 0; i < kept; ++i) {
        const auto index = static_cast<std::size_t>(i);
        units = units * 10 + static_cast<std::uint64_t>(index < digits.size() ? digits[index] - '0' : 0);
    }
    const auto next = static_cast<std::size_t>(kept);
    if (next < digits.size() && digits[next] >= '5')
        ++units;
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    if (units > limit)
        return std::nullopt;
    const double magnitude = static_cast<double>(units) / 10'000.0;
    return negative ? -magnitude : magnitude;
}

std::optional<double> parseDecimal(std::string_view text)
{
    text = trimBlanks(text);
    std::string plain = takeSign(text) ? "-" : "";
    bool anyDigit = false;
    bool separatorSeen = false;
    for (const char c : text) {
        if (isDigit(c)) {
            anyDigit = true;
            plain += c;
        } else if (c == SalonFormat.decimalSeparator && !separatorSeen) {
            separatorSeen = true;
            plain += '.';
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value, std::chars_format::fixed);
    if (ec != std::errc{} || end != plain.data() + plain.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
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

std::string formatKopecks(std::int64_t kopecks)
{
    const bool negative = kopecks < 0;
    // Past the range of any sum of money; kept clear of the one value that has no negation.
    const std::uint64_t magnitude =
        negative ? static_cast<std::uint64_t>(-(kopecks + 1)) + 1 : static_cast<std::uint64_t>(kopecks);
    std::string text = negative ? "-" : "";
    text += std::to_string(magnitude / 100);
    text += SalonFormat.decimalSeparator;
    const auto cents = static_cast<unsigned>(magnitude % 100);
    text += static_cast<char>('0' + cents / 10);
    text += static_cast<char>('0' + cents % 10);
    return text;
}

std::optional<std::int64_t> toKopecks(double money)
{
    constexpr double Limit = 1e14; // a trillion in kopecks
    if (!std::isfinite(money))
        return std::nullopt;
    const double kopecks = std::round(money * 100.0);
    if (std::fabs(kopecks) > Limit)
        return std::nullopt;
    return static_cast<std::int64_t>(kopecks);
}

std::optional<std::int64_t> parseKopecks(std::string_view text, bool signedText)
{
    constexpr std::size_t MaxWholeDigits = 12;
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    bool negative = false;
    if (signedText && !text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const std::size_t separator = text.find_first_of(",.");
    const std::string_view whole = text.substr(0, separator);
    const std::string_view decimals =
        separator == std::string_view::npos ? std::string_view() : text.substr(separator + 1);
    const auto digits = [](std::string_view d) {
        return std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || whole.size() > MaxWholeDigits || decimals.size() > 2 || !digits(whole) || !digits(decimals))
        return std::nullopt;
    std::int64_t kopecks = 0;
    for (const char c : whole)
        kopecks = kopecks * 10 + (c - '0');
    kopecks *= 100;
    if (!decimals.empty())
        kopecks += (decimals[0] - '0') * 10 + (decimals.size() > 1 ? decimals[1] - '0' : 0);
    return negative ? -kopecks : kopecks;
}

std::string shiftSpanText(double from, double until)
{
    return "Смена с " + formatDateAndTime(from).value_or("?") + " по " + formatDateAndTime(until).value_or("?");
}

std::string shiftSessionsText(std::uint64_t sessions)
{
    return "Сессий: " + std::to_string(sessions);
}

std::string shiftComputedText(std::int64_t kopecks)
{
    return "По журналу: " + formatKopecks(kopecks);
}

std::string shiftRunningText(int sessions, std::int64_t kopecks)
{
    return "Идут сейчас: " + std::to_string(sessions) + " на " + formatKopecks(kopecks);
}

std::string repeatsLeftOutText(std::uint64_t count)
{
    return "Повторных записей не учтено: " + std::to_string(count);
}

std::string droppedAlertText(std::string_view computer, std::string_view tariff, std::string_view sum)
{
    std::string text = "Отключился ";
    text += computer;
    text += ": ";
    text += tariff;
    text += ", сумма ";
    text += sum;
    return text;
}

namespace {

// Russian chooses a noun's form by the last two digits of the number: 1, 21 (one); 2-4, 22-24
// (few); 0, 5-20, 25-30 (many).
enum class Plural
{
    One,
    Few,
    Many,
};

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

} // namespace

std::string powerCutAlertText(int count)
{
    const Plural form = pluralOf(static_cast<std::uint64_t>(count));
    return std::string(form == Plural::One ? "Отключился сразу " : "Отключились сразу ") + std::to_string(count) + " " +
           pick(form, "компьютер", "компьютера", "компьютеров");
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

std::string returnAlertText(std::size_t sessions)
{
    return "При остановке сервера шли сеансы: " + std::to_string(sessions) + "; они ждут свои компьютеры";
}

std::string awaitingReturnText(int seconds)
{
    const int s = std::max(0, seconds);
    std::string text = "ждет еще " + std::to_string(s / 60) + ":";
    appendNumber(text, s % 60, 2);
    return text;
}

std::string commandsRefusedText(std::size_t waiting)
{
    return "Команда не отправлена: журнал не записан, ждут записи " + std::to_string(waiting) + " сессий и строк";
}

std::string timeLowAlertText(std::string_view computer, std::string_view left)
{
    std::string text(computer);
    text += ": игра заканчивается, осталось ";
    text += left;
    return text;
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

std::string wakeResultText(std::size_t sent, const std::vector<std::string>& unknown,
                           const std::vector<std::string>& failed)
{
    std::string text;
    const auto line = [&text](std::string_view head, const std::vector<std::string>& names) {
        if (names.empty())
            return;
        if (!text.empty())
            text += '\n';
        text += head;
        for (std::size_t i = 0; i < names.size(); ++i)
            text += (i ? ", " : " ") + names[i];
    };
    if (sent > 0)
        text = "Сигнал включения отправлен: " + std::to_string(sent);
    line("Аппаратный адрес неизвестен, включить нельзя:", unknown);
    line("Сигнал включения не отправлен:", failed);
    return text;
}

} // namespace ostrel
