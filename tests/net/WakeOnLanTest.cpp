#include "net/WakeOnLan.h"
#include "net/NeighbourTable.h"

#include "support/NetTestSupport.h"
#include "support/ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <future>

namespace ostrel {
namespace {

using namespace nettest;

constexpr HardwareAddress Card{0x00, 0x1a, 0x2B, 0xc3, 0xd4, 0xe5};

TEST(NeighbourTable, KeepsOnlyCompleteEthernetEntries)
{
    struct Case
    {
        const char* line;
        std::optional<HardwareAddress> expected;
    };
    const Case cases[] = {
        {"192.168.1.17     0x1         0x2         00:1a:2b:c3:d4:e5     *        eth0", Card},
        {"192.168.1.17\t0x1\t0x6\t00:1A:2B:C3:D4:E5\t*\teth0", Card}, // permanent, upper case, tabs
        {"192.168.1.17     0x1         0x0         00:00:00:00:00:00     *        eth0", std::nullopt}, // incomplete
        {"192.168.1.17     0x1         0x2         00:00:00:00:00:00     *        eth0", std::nullopt},
        {"192.168.1.17     0x1         0x4         00:1a:2b:c3:d4:e5     *        eth0", std::nullopt}, // not COM
        {"192.168.1.17     0x20        0x2         00:1a:2b:c3:d4:e5     *        ib0", std::nullopt},  // not Ethernet
        {"192.168.1.17     0x1         0x2         00:1a:2b:c3:d4        *        eth0", std::nullopt},
        {"192.168.1.17     0x1         0x2         00-1a-2b-c3-d4-e5     *        eth0", std::nullopt},
        {"192.168.1.17     0x1         0x2         00:1a:2b:c3:d4:e5     *", std::nullopt},
        {"192.168.1.17     0x1         0x2         00:1a:2b:c3:d4:e5     *        eth0  x", std::nullopt},
        {"192.168.1.17     1           0x2         00:1a:2b:c3:d4:e5     *        eth0", std::nullopt},
        {"192.168.1.17     0x1         0x2z        00:1a:2b:c3:d4:e5     *        eth0", std::nullopt},
        {"192.168.1.256    0x1         0x2         00:1a:2b:c3:d4:e5     *        eth0", std::nullopt},
        {"", std::nullopt},
    };
    const std::string header = "IP address       HW type     Flags       HW address            Mask     Device\n";
    for (const auto& c : cases) {
        const auto table = parseNeighbourTable(header + c.line + "\n");
        const auto it = table.find("192.168.1.17");
        EXPECT_EQ(it == table.end() ? std::nullopt : std::optional(it->second), c.expected) << c.line;
        EXPECT_LE(table.size(), 1u) << c.line;
    }
    // The header is never an entry, whatever it says; every good line of a table counts.
    const auto table = parseNeighbourTable("10.0.0.1 0x1 0x2 00:1a:2b:c3:d4:e5 * eth0\n"
                                           "10.0.0.2 0x1 0x2 00:1a:2b:c3:d4:e6 * eth0\r\n"
                                           "10.0.0.3 0x1 0x2 00:1a:2b:c3:d4:e7 * eth0");
    EXPECT_EQ(table.size(), 2u);
    EXPECT_EQ(table.at("10.0.0.3")[5], 0xe7);
}

TEST(WakeOnLan, PacketIsSixFFThenTheAddressSixteenTimes)
{
    const auto packet = magicPacket(Card);
    ASSERT_EQ(packet.size(), 102u);
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(packet[i], 0xFF) << i;
    for (std::size_t i = 6; i < packet.size(); ++i)
        EXPECT_EQ(packet[i], Card[(i - 6) % 6]) << i;
}

// A datagram socket on every local address, as a sleeping card's listener would hear the wire.
std::optional<Bytes> receiveOn(int fd)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 3000) != 1)
        return std::nullopt;
    Bytes bytes(512);
    const ssize_t n = ::recv(fd, bytes.data(), bytes.size(), MSG_DONTWAIT);
    if (n < 0)
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
}

TEST(WakeOnLan, PacketArrivesWholeAtTheBroadcastAddressAndPort)
{
    std::string why;
    if (!proctest::onlyLoopbackIsUp(&why))
        GTEST_SKIP() << "a broadcast would leave this host: " << why;
    UniqueFd listener(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const auto any = loopback("0.0.0.0", 0);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
    const std::uint16_t port = boundPort(listener.get());

    const HardwareAddress other{0x02, 0, 0, 0, 0, 0x07};
    const HardwareAddress cards[] = {Card, other};
    for (const char* to : {"127.255.255.255", "127.0.0.255", "127.0.0.1"}) {
        EXPECT_EQ(sendMagicPackets(cards, to, port), (std::vector<bool>{true, true})) << to;
        for (const auto& card : cards) {
            const auto got = receiveOn(listener.get());
            ASSERT_TRUE(got) << to;
            const auto expected = magicPacket(card);
            EXPECT_EQ(*got, Bytes(expected.begin(), expected.end())) << to;
        }
    }
    EXPECT_EQ(sendMagicPackets(cards, "not an address", port), (std::vector<bool>{false, false}));
}

// The sends run on the network thread: one that finds no room fails that packet at once. A blocking
// socket whose peer never reads would hold a waiting send for ever.
TEST(WakeOnLan, AFullSocketFailsTheRestWithoutWaiting)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd sender(pair[0]);
    UniqueFd sleeper(pair[1]);
    const std::vector<HardwareAddress> hall(5000, Card);
    auto sending = std::async(std::launch::async, [&] { return sendMagicPacketsOn(sender.get(), hall, nullptr); });
    if (sending.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        sleeper.reset(); // ends the waiting send
        FAIL() << "a send waited for room";
    }
    const auto sent = sending.get();
    const auto firstFailed = std::find(sent.begin(), sent.end(), false);
    ASSERT_NE(firstFailed, sent.begin()) << "the first packets fit";
    ASSERT_NE(firstFailed, sent.end()) << "the peer's queue never filled";
    EXPECT_EQ(std::find(firstFailed, sent.end(), true), sent.end()) << "the peer read nothing meanwhile";
}

} // namespace
} // namespace ostrel
