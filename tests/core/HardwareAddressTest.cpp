#include "core/HardwareAddress.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(HardwareAddress, ReadsSixHexPairsAndWritesThemBackInLowerCase)
{
    constexpr HardwareAddress Card{0x00, 0x1a, 0x2b, 0xc3, 0xd4, 0xe5};
    struct Case
    {
        const char* text;
        std::optional<HardwareAddress> expected;
    };
    const Case cases[] = {
        {"00:1a:2b:c3:d4:e5", Card},
        {"00:1A:2B:C3:D4:E5", Card},
        {"ff:ff:ff:ff:ff:ff", HardwareAddress{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
        {"00:00:00:00:00:00", std::nullopt}, // a neighbour the kernel has not reached
        {"00:1a:2b:c3:d4", std::nullopt},
        {"00:1a:2b:c3:d4:e5:", std::nullopt},
        {"00-1a-2b-c3-d4-e5", std::nullopt},
        {"00:1a:2b:c3:d4:eg", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseHardwareAddress(c.text), c.expected) << c.text;
    EXPECT_EQ(hardwareAddressText(Card), "00:1a:2b:c3:d4:e5");
}

} // namespace
} // namespace ostrel
