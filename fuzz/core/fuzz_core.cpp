#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/IniFile.h"
#include "core/Texts.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace ostrel;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string utf8 = cp1251ToUtf8(text);
    check(isValidUtf8(utf8));
    std::string expected(text);
    for (char& c : expected)
        if (c == '\x98')
            c = '?';
    check(utf8ToCp1251(utf8) == expected);
    (void)utf8ToCp1251(text);

    if (const auto money = parseMoney(text)) {
        check(std::isfinite(*money));
        const auto written = formatMoney(*money);
        check(written.has_value());
        if (std::fabs(*money) < 9e14)
            check(parseMoney(*written).has_value());
    }
    if (const auto time = parseTime(text)) {
        const auto written = formatTime(*time);
        check(written && parseTime(*written) == time);
    }
    if (const auto date = parseDate(text)) {
        const auto written = formatDate(*date);
        check(written && parseDate(*written) == date);
    }
    (void)parseDecimal(text);
    (void)parseWholeNumber(text);

    if (size >= sizeof(double)) {
        double x = 0;
        std::memcpy(&x, data, sizeof x);
        (void)formatMoney(x);
        (void)formatTime(x);
        (void)formatDate(x);
        (void)formatDateTime(x);
        (void)decodeDate(x);
    }

    const IniFile ini = IniFile::fromText(text);
    for (const std::string& key : ini.keys("Price"))
        check(ini.value("Price", key).has_value());
    return 0;
}
