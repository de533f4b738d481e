// Nanoseconds per call of the core's text conversions, each over a million varied inputs:
//   bench_core [calls]
// A station report writes two money and four time texts; a session log append reads two money and
// three time texts back; every line of the work report writes a date-time, two money and three times.
#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/Texts.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ostrel;

namespace {

template <typename F> void measure(const char* name, int calls, F&& f)
{
    std::size_t sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        sink += f(i);
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-28s %8.1f ns/call  (check %zu)\n", name, ns / calls, sink);
}

} // namespace

int main(int argc, char** argv)
{
    const int calls = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
    if (calls <= 0)
        return 1;
    std::vector<double> money(static_cast<std::size_t>(calls));
    std::vector<double> times(money.size());
    for (std::size_t i = 0; i < money.size(); ++i) {
        money[i] = static_cast<double>(i % 200'000) * 1.37;
        times[i] = 46'000.0 + static_cast<double>(i) / 997.0;
    }
    std::vector<std::string> moneyTexts, timeTexts;
    for (std::size_t i = 0; i < money.size(); ++i) {
        moneyTexts.push_back(*formatMoney(money[i]));
        timeTexts.push_back(*formatTime(times[i]));
    }
    const std::string status = utf8ToCp1251("Ожидание Игра, компьютер №12");
    const std::string statusUtf8 = cp1251ToUtf8(status);
    const auto at = [](int i) { return static_cast<std::size_t>(i); };

    measure("formatMoney", calls, [&](int i) { return formatMoney(money[at(i)])->size(); });
    measure("parseMoney", calls, [&](int i) { return parseMoney(moneyTexts[at(i)]) ? 1u : 0u; });
    measure("formatTime", calls, [&](int i) { return formatTime(times[at(i)])->size(); });
    measure("parseTime", calls, [&](int i) { return parseTime(timeTexts[at(i)]) ? 1u : 0u; });
    measure("formatDateTime", calls, [&](int i) { return formatDateTime(times[at(i)])->size(); });
    measure("cp1251ToUtf8 (28 chars)", calls, [&](int) { return cp1251ToUtf8(status).size(); });
    measure("utf8ToCp1251 (28 chars)", calls, [&](int) { return utf8ToCp1251(statusUtf8).size(); });
    return 0;
}
