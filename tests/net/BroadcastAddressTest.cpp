#include "net/BroadcastAddress.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrel {
namespace {

TEST(BroadcastAddress, ReplacesTheLastOctetOfTheChosenAddress)
{
    struct Case
    {
        std::vector<IPv4Address> addresses;
        std::int64_t net;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {{{192, 168, 255, 20}}, 0, "192.168.255.255"},
        {{{192, 168, 1, 17}}, 0, "192.168.1.255"},
        {{{10, 0, 255, 3}}, 0, "10.0.255.255"},
        {{{192, 168, 1, 17}, {10, 4, 0, 9}}, 1, "10.4.0.255"},
        {{{192, 168, 1, 17}, {10, 4, 0, 9}}, 0, "192.168.1.255"},
        {{{0, 0, 0, 0}}, 0, "0.0.0.255"}, // no leading zeros, but a zero octet stays
        {{{192, 168, 1, 17}, {10, 4, 0, 9}}, 2, std::nullopt},
        {{{192, 168, 1, 17}}, -1, std::nullopt},
        {{}, 0, std::nullopt},
        {{{192, 168, 1, 17}}, std::int64_t{1} << 40, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(broadcastAddressFrom(c.addresses, c.net), c.expected) << "Net " << c.net;
}

TEST(BroadcastAddress, HostListGivesAnAddressOrTheFallback)
{
    // Whatever this host resolves to, Net 0 yields a broadcast text ending in .255: either from its
    // own first address or, when the name does not resolve, the fallback 7.0.0.255.
    const auto address = broadcastAddressForNet(0);
    ASSERT_TRUE(address);
    EXPECT_TRUE(address->ends_with(".255")) << *address;
    if (!hostIPv4Addresses())
        EXPECT_EQ(*address, "7.0.0.255");
    else
        EXPECT_FALSE(broadcastAddressForNet(static_cast<std::int64_t>(hostIPv4Addresses()->size())));
}

} // namespace
} // namespace ostrel
