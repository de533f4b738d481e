#include "stations/KnownStations.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

constexpr HardwareAddress CardA{0x00, 0x1a, 0x2b, 0xc3, 0xd4, 0xe5};
constexpr HardwareAddress CardB{0x02, 0x00, 0x00, 0x00, 0x00, 0xbb};

using testing::readWholeFile;

TEST(KnownStations, FileReadsBackAndSkipsOnlyDamagedLines)
{
    struct Case
    {
        std::string line;
        bool good;
    };
    const Case cases[] = {
        {"PC-1\t192.168.1.17\t00:1a:2b:c3:d4:e5\t08.12.2026 9:05:00", true},
        {"\xd0\x9a\xd0\xbe\xd0\xbc\xd0\xbf-2\t192.168.1.18\t\t31.12.2025 23:59:59", true}, // Cyrillic name, no card
        {"PC-3\t192.168.1.19\t00:1a:2b:c3:d4:e5", false},                                  // a field short
        {"PC-3\t192.168.1.19\t00:1a:2b:c3:d4:e5\t08.12.2026 9:05:00\tx", false},           // one too many
        {"\t192.168.1.19\t00:1a:2b:c3:d4:e5\t08.12.2026 9:05:00", false},
        {"PC-3\t192.168.1\t00:1a:2b:c3:d4:e5\t08.12.2026 9:05:00", false},
        {"PC-3\t192.168.1.19\t00:1a:2b:c3:d4\t08.12.2026 9:05:00", false},
        {"PC-3\t192.168.1.19\t00:00:00:00:00:00\t08.12.2026 9:05:00", false},
        {"PC-3\t192.168.1.19\t00:1a:2b:c3:d4:e5\t08.12.2026", false},
        {"PC-3\t192.168.1.19\t00:1a:2b:c3:d4:e5\t32.12.2026 9:05:00", false},
        {"PC-\xff\t192.168.1.19\t00:1a:2b:c3:d4:e5\t08.12.2026 9:05:00", false},  // not UTF-8
        {"PC-3\t192.168.1.19\t00:1a:2b:c3:d4:e5\t08.12.20", false},               // cut off by a crash
        {"PC\x1b-3\t192.168.1.19\t00:1a:2b:c3:d4:e5\t08.12.2026 9:05:00", false}, // a control byte in the name
    };
    std::string text;
    std::string good;
    std::vector<std::size_t> damaged;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        text += cases[i].line + "\n";
        if (cases[i].good)
            good += cases[i].line + "\n";
        else
            damaged.push_back(i + 1);
    }
    const auto parsed = parseKnownStations(text);
    EXPECT_EQ(parsed.damagedLines, damaged);
    ASSERT_EQ(parsed.stations.size(), 2u);
    EXPECT_EQ(parsed.stations[0].hardware, CardA);
    EXPECT_EQ(parsed.stations[1].name, "\xca\xee\xec\xef-2"); // Windows-1251 in memory
    EXPECT_FALSE(parsed.stations[1].hardware);
    EXPECT_EQ(formatKnownStations(parsed.stations), good);
}

TEST(KnownStations, NotesStationsInRoundsAndKeepsTheFileWhole)
{
    testing::TempFolder dir;
    const std::string path = dir.write("Ostrel.stations", "Old\t10.0.0.9\t02:00:00:00:00:bb\t01.12.2026 8:00:00\n"
                                                          "broken line\n"
                                                          "Gone\t10.0.0.7\t\t01.12.2026 8:00:00\n");
    std::atomic<int> lookUps{0};
    {
        KnownStations known(
            path,
            [&] {
                ++lookUps;
                return KnownStations::NeighbourTable{{"127.0.0.2", CardA}};
            },
            1h);
        constexpr int Burst = 100;
        for (int i = 0; i < Burst; ++i)
            known.seen("PC-2", "127.0.0.2", 46364.5 + i / 86400.0);
        known.seen("Old", "127.0.0.9", 46364.5);       // a new address, not in the table: the card stays
        known.seen("Bad\nName", "127.0.0.3", 46364.5); // could not be one line
        ASSERT_TRUE(known.flush(5s));
        // One look-up per round, not per connection; the first round may start before the burst ends.
        EXPECT_LE(lookUps.load(), 2);

        const auto stations = known.snapshot();
        ASSERT_EQ(stations.size(), 3u);
        EXPECT_EQ(stations[0].name, "Gone");
        EXPECT_EQ(stations[1].name, "Old");
        EXPECT_EQ(stations[1].address, "127.0.0.9");
        EXPECT_EQ(stations[1].hardware, CardB);
        EXPECT_EQ(stations[2].hardware, CardA);
        EXPECT_NEAR(stations[2].lastSeen, 46364.5 + (Burst - 1) / 86400.0, 1e-9);
        EXPECT_EQ(parseKnownStations(readWholeFile(path)).stations.size(), 3u);

        known.seen("PC-4", "127.0.0.4", 46364.5); // owed at destruction
    }
    const auto file = parseKnownStations(readWholeFile(path));
    EXPECT_TRUE(file.damagedLines.empty());
    EXPECT_EQ(file.stations.size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST(KnownStations, BeyondTheCapTheLongestUnseenGo)
{
    testing::TempFolder dir;
    const std::string path = dir.file("Ostrel.stations");
    constexpr std::size_t Count = KnownStations::MaxStations + 1;
    const auto name = [](std::size_t i) { return "PC-" + std::to_string(i); };
    {
        KnownStations known(path, {}, 1h);
        for (std::size_t i = 0; i < Count; ++i) // each seen a second after the one before
            known.seen(name(i), "10.1." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256),
                       46364.0 + static_cast<double>(i) / 86400.0);
        ASSERT_TRUE(known.flush(60s));
    }
    const auto file = parseKnownStations(readWholeFile(path));
    EXPECT_TRUE(file.damagedLines.empty());
    ASSERT_EQ(file.stations.size(), KnownStations::MaxStations);
    const auto has = [&](const std::string& n) {
        return std::any_of(file.stations.begin(), file.stations.end(),
                           [&](const KnownStation& s) { return s.name == n; });
    };
    EXPECT_FALSE(has(name(0)));
    EXPECT_TRUE(has(name(1)));
    EXPECT_TRUE(has(name(Count - 1)));
}

} // namespace
} // namespace ostrel
