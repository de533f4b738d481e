#include "core/Cp1251.h"

#include <array>
#include <cstdint>

namespace ostrel {

namespace {

constexpr char32_t Unassigned = 0xFFFD;

// The upper half of the code page; the lower half is ASCII.
constexpr std::array<char32_t, 128> UpperHalf = {
    0x0402,     0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC,     0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452,     0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    Unassigned, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0,     0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401,     0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0,     0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451,     0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    0x0410,     0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, // C0
    0x0418,     0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, // C8
    0x0420,     0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, // D0
    0x0428,     0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, // D8
    0x0430,     0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, // E0
    0x0438,     0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, // E8
    0x0440,     0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, // F0
    0x0448,     0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, // F8
};

constexpr char32_t toUnicode(std::uint8_t byte)
{
    return byte < 0x80 ? char32_t{byte} : UpperHalf[byte - 0x80];
}

// Every character of the upper half lies below U+2200 (0x98's U+FFFD aside, which has no byte).
constexpr char32_t ReverseLimit = 0x2200;

constexpr std::array<std::uint8_t, ReverseLimit> makeReverseTable()
{
    std::array<std::uint8_t, ReverseLimit> table{};
    for (std::size_t i = 0; i < UpperHalf.size(); ++i)
        if (UpperHalf[i] < ReverseLimit)
            table[UpperHalf[i]] = static_cast<std::uint8_t>(0x80 + i);
    return table;
}

constexpr std::array<std::uint8_t, ReverseLimit> ReverseTable = makeReverseTable();

// -1 when the character has no byte in the code page.
constexpr int fromUnicode(char32_t c)
{
    if (c < 0x80)
        return static_cast<int>(c);
    if (c >= ReverseLimit || ReverseTable[c] == 0)
        return -1;
    return ReverseTable[c];
}

constexpr char32_t unicodeLower(char32_t c)
{
    if (c >= U'A' && c <= U'Z')
        return c + 0x20;
    if (c >= 0x0400 && c <= 0x040F) // Ѐ..Џ pair with ѐ..џ
        return c + 0x50;
    if (c >= 0x0410 && c <= 0x042F)
        return c + 0x20;
    if (c == 0x0490) // Ґ
        return 0x0491;
    return c;
}

constexpr std::array<std::uint8_t, 256> makeLowerTable()
{
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        const int lower = fromUnicode(unicodeLower(toUnicode(static_cast<std::uint8_t>(b))));
        table[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(lower < 0 ? b : lower);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> LowerTable = makeLowerTable();
static_assert(LowerTable[0xA8] == 0xB8 && LowerTable[0xC0] == 0xE0 && LowerTable[0x80] == 0x90);

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one well-formed UTF-8 sequence at `pos` (no overlong forms, no surrogates, nothing above
// U+10FFFF). Returns the number of bytes taken, 0 when the bytes there are malformed.
std::size_t decodeUtf8(std::string_view s, std::size_t pos, char32_t& out)
{
    const auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const std::uint8_t lead = byteAt(pos);
    if (lead < 0x80) {
        out = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - pos < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t next = byteAt(pos + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    out = c;
    return length;
}

} // namespace

char16_t cp1251ToUtf16(char byte)
{
    return static_cast<char16_t>(toUnicode(static_cast<std::uint8_t>(byte)));
}

std::string cp1251ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char b : bytes)
        appendUtf8(out, toUnicode(static_cast<std::uint8_t>(b)));
    return out;
}

std::string utf8ToCp1251(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t c = 0;
        const std::size_t taken = decodeUtf8(utf8, pos, c);
        if (taken == 0) {
            out += '?';
            ++pos;
            continue;
        }
        pos += taken;
        const int byte = fromUnicode(c);
        out += byte < 0 ? '?' : static_cast<char>(byte);
    }
    return out;
}

bool isValidUtf8(std::string_view bytes)
{
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t c = 0;
        const std::size_t taken = decodeUtf8(bytes, pos, c);
        if (taken == 0)
            return false;
        pos += taken;
    }
    return true;
}

char cp1251ToLower(char c)
{
    return static_cast<char>(LowerTable[static_cast<std::uint8_t>(c)]);
}

bool equalsIgnoreCaseCp1251(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (cp1251ToLower(a[i]) != cp1251ToLower(b[i]))
            return false;
    return true;
}

} // namespace ostrel
