#include "core/MoneyText.h"

#include "core/TextScan.h"
#include "core/Texts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ostrel {

using textscan::appendNumber;
using textscan::isDigit;
using textscan::takeSign;
using textscan::trimBlanks;

namespace {

constexpr int MoneySignificantDigits = 5;
constexpr int MoneyDecimals = 2;
constexpr int MoneyScaleDigits = 4; // the fixed-point money read back keeps four decimals

} // namespace

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

} // namespace ostrel
