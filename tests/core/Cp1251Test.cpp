#include "core/Cp1251.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>
#include <map>
#include <optional>
#include <string>

namespace ostrel {
namespace {

// glibc's converter, an implementation of the code page independent of ours; nullopt when it
// refuses the input.
std::optional<std::string> iconvConvert(const char* to, const char* from, const std::string& input)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in = input;
    char out[64] = {};
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0)
        return std::nullopt;
    return std::string(out, static_cast<std::size_t>(outPtr - out));
}

TEST(Cp1251, EveryByteAgreesWithIconvBothWays)
{
    ASSERT_TRUE(iconvConvert("UTF-8", "CP1251", "A")) << "glibc has no CP1251 converter";
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const std::string byte(1, static_cast<char>(b));
        const std::string ours = cp1251ToUtf8(byte);
        EXPECT_TRUE(isValidUtf8(ours));
        if (b == 0x98) {
            EXPECT_EQ(cp1251ToUtf16(byte[0]), u'\uFFFD');
            EXPECT_EQ(ours, "\xEF\xBF\xBD");
            EXPECT_EQ(utf8ToCp1251(ours), "?");
            continue;
        }
        const auto theirs = iconvConvert("UTF-8", "CP1251", byte);
        ASSERT_TRUE(theirs);
        EXPECT_EQ(ours, *theirs);
        EXPECT_EQ(iconvConvert("CP1251", "UTF-8", ours), byte);
        EXPECT_EQ(utf8ToCp1251(ours), byte);
        const auto utf16 = iconvConvert("UTF-16LE", "CP1251", byte);
        ASSERT_TRUE(utf16 && utf16->size() == 2);
        EXPECT_EQ(cp1251ToUtf16(byte[0]), static_cast<char16_t>(static_cast<unsigned char>((*utf16)[0]) |
                                                                static_cast<unsigned char>((*utf16)[1]) << 8));
    }
}

TEST(Cp1251, StatusWordsSurviveTheRoundTrip)
{
    const std::string free = "\x43\xE2\xEE\xE1\xEE\xE4\xED\xEE"; // Latin C, then Cyrillic
    EXPECT_EQ(cp1251ToUtf8(free), "Cвободно");
    EXPECT_EQ(utf8ToCp1251("Cвободно"), free);
    EXPECT_EQ(utf8ToCp1251("Ёжик ёж №5"), "\xA8\xE6\xE8\xEA \xB8\xE6 \xB9\x35");
}

TEST(Cp1251, UnmappableAndMalformedUtf8BecomeQuestionMarks)
{
    struct Case
    {
        std::string utf8;
        std::string cp1251;
        bool valid;
    };
    const Case cases[] = {
        {"", "", true},
        {"a\xE4\xB8\xAD"
         "b",
         "a?b", true},                       // CJK: no byte in the code page
        {"\xF0\x9F\x98\x80", "?", true},     // emoji, four bytes
        {"\xC3\xA9", "?", true},             // é is not in the code page
        {"\xC2\xA0", "\xA0", true},          // no-break space is
        {"\xFF", "?", false},                // never a UTF-8 byte
        {"\xC0\xAF", "??", false},           // overlong '/'
        {"\xED\xA0\x80", "???", false},      // surrogate
        {"\xD0", "?", false},                // cut short at the end
        {"\xD0\x41", "?A", false},           // cut short before ASCII
        {"\xF4\x90\x80\x80", "????", false}, // above U+10FFFF
        {"\xEF\xBF\xBD", "?", true},         // U+FFFD has no byte: 0x98 is unassigned
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(utf8ToCp1251(c.utf8), c.cp1251);
        EXPECT_EQ(isValidUtf8(c.utf8), c.valid);
    }
}

TEST(Cp1251, LowerCaseFoldsEveryLetterPairAndNothingElse)
{
    std::map<int, int> pairs = {{0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
                                {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
                                {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
    for (int b = 'A'; b <= 'Z'; ++b)
        pairs[b] = b + 0x20;
    for (int b = 0xC0; b <= 0xDF; ++b)
        pairs[b] = b + 0x20;
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const auto found = pairs.find(b);
        const int expected = found == pairs.end() ? b : found->second;
        EXPECT_EQ(static_cast<unsigned char>(cp1251ToLower(static_cast<char>(b))), expected);
    }
}

TEST(Cp1251, EqualsIgnoringCase)
{
    EXPECT_TRUE(equalsIgnoreCaseCp1251(utf8ToCp1251("ЁЛКА Час"), utf8ToCp1251("ёлка чАС")));
    EXPECT_TRUE(equalsIgnoreCaseCp1251("", ""));
    EXPECT_FALSE(equalsIgnoreCaseCp1251(utf8ToCp1251("Ёлка"), utf8ToCp1251("Елка")));
    EXPECT_FALSE(equalsIgnoreCaseCp1251("abc", "abcd"));
    // The Latin C of the status words is not the Cyrillic С.
    EXPECT_FALSE(equalsIgnoreCaseCp1251("C", utf8ToCp1251("С")));
}

} // namespace
} // namespace ostrel
