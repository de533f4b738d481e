#include "stations/WakePlan.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

constexpr HardwareAddress CardA{0x00, 0x1a, 0x2b, 0xc3, 0xd4, 0xe5};
constexpr HardwareAddress CardB{0x02, 0x00, 0x00, 0x00, 0x00, 0xbb};

TEST(WakePlan, NamesStationsWithoutACard)
{
    const std::vector<KnownStation> known = {
        {"PC-1", "10.0.0.1", CardA, 0}, {"PC-2", "10.0.0.2", std::nullopt, 0}, {"PC-3", "10.0.0.3", CardB, 0}};
    const auto dropped = [](std::string computer, std::string address) {
        DroppedStation d;
        d.computer = std::move(computer);
        d.address = std::move(address);
        return d;
    };
    const std::vector<DroppedStation> chosen = {
        dropped("PC-1", "10.0.0.1"),
        dropped("10.0.0.3", "10.0.0.3"), // named by its address when the name did not resolve
        dropped("PC-2", "10.0.0.2"),
        dropped("PC-9", "10.0.0.9"),
    };
    const auto one = planWake(known, chosen);
    ASSERT_EQ(one.send.size(), 2u);
    EXPECT_EQ(one.send[1].hardware, CardB);
    EXPECT_EQ(one.unknown, (std::vector<std::string>{"PC-2", "PC-9"}));

    const auto all = planWakeAll(known, [](const std::string& address) { return address == "10.0.0.1"; });
    ASSERT_EQ(all.send.size(), 1u);
    EXPECT_EQ(all.send[0].name, "PC-3");
    EXPECT_EQ(all.unknown, std::vector<std::string>{"PC-2"});
}

} // namespace
} // namespace ostrel
