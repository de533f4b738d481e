#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// Money: rounded to five significant digits, then written with exactly two decimals and a comma:
// 1234.567 -> "1234,60", 2.5 -> "2,50", 9999.99 -> "10000,00". A value whose rounded form has more
// than five digits before the comma is written in exponent form: 123456.78 -> "1,2346E5",
// 100000 -> "1E5". Negative values keep their '-'. Below 100 the two decimals are the tighter limit.
// Either way the value is rounded once, on the shortest decimal text that reads back as the double,
// and a tie goes away from zero: 0.125 -> "0,13", 1234.25 -> "1234,30", 2.675 -> "2,68" (the
// double is a little below 2.675, but it is the amount 2.675), -0.125 -> "-0,13". A value that
// rounds to zero is "0,00", without a sign. nullopt for a non-finite value.
std::optional<std::string> formatMoney(double value);

// Reads a money text back, as a fixed-point number with four decimals (so at most four decimals
// survive): "180,00", "-2,5", "1,2346E5". Blanks around the number are allowed. nullopt for an
// empty or malformed text, or a value outside the four-decimal fixed-point range.
std::optional<double> parseMoney(std::string_view text);

// Reads a plain number as the tariff lists and the configuration write it: the comma is the
// decimal separator ("1,5"); a whole number ("10") is fine; no exponent, and the full stop is no
// separator ("1.5" is refused, as the salon's format would refuse it). nullopt when it is not a number.
std::optional<double> parseDecimal(std::string_view text);

// Money counted to the kopeck, as the cash book writes it: exactly two decimals and a comma, no
// rounding to significant digits: 123456.78 -> "123456,78", -0.5 -> "-0,50".
std::string formatKopecks(std::int64_t kopecks);
// A sum of money as the log's doubles hold it, to the nearest kopeck; nullopt when not finite or
// beyond a trillion.
std::optional<std::int64_t> toKopecks(double money);
// Reads money typed or written to the kopeck: digits, then a comma or a dot and at most two
// decimals ("1234,50", "1234.5", "1234"), blanks around allowed, a '-' first only when `signedText`.
// nullopt for anything else, the empty text included.
std::optional<std::int64_t> parseKopecks(std::string_view text, bool signedText = false);

} // namespace ostrel
