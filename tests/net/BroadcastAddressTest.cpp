#include "net/BroadcastAddress.h"

#include <gtest/gtest.h>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <set>
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

// getifaddrs' list as the kernel gives it: packet entries, IPv6, interfaces that are down, and
// loopback anywhere in the order.
class InterfaceList
{
public:
    InterfaceList& add(const char* name, unsigned flags, std::optional<IPv4Address> v4, int family = AF_INET,
                       std::optional<IPv4Address> broadcast = std::nullopt)
    {
        auto& entry = m_entries.emplace_back();
        auto& address = m_addresses.emplace_back();
        auto& broadcastAddress = m_broadcasts.emplace_back();
        if (broadcast) {
            sockaddr_in in{};
            in.sin_family = AF_INET;
            std::memcpy(&in.sin_addr.s_addr, broadcast->data(), 4);
            std::memcpy(&broadcastAddress, &in, sizeof in);
        }
        entry.ifa_name = const_cast<char*>(name);
        entry.ifa_flags = flags;
        address.ss_family = static_cast<sa_family_t>(family);
        if (v4) {
            sockaddr_in in{};
            in.sin_family = AF_INET;
            std::memcpy(&in.sin_addr.s_addr, v4->data(), 4);
            std::memcpy(&address, &in, sizeof in);
        }
        return *this;
    }
    InterfaceList& withoutAddress(const char* name, unsigned flags)
    {
        add(name, flags, std::nullopt);
        m_entries.back().ifa_addr = nullptr;
        m_noAddress.insert(m_entries.size() - 1);
        return *this;
    }
    const ifaddrs* chain()
    {
        for (std::size_t i = 0; i < m_entries.size(); ++i) {
            m_entries[i].ifa_addr = m_noAddress.contains(i) ? nullptr : reinterpret_cast<sockaddr*>(&m_addresses[i]);
            if (m_broadcasts[i].ss_family == AF_INET)
                m_entries[i].ifa_broadaddr = reinterpret_cast<sockaddr*>(&m_broadcasts[i]);
            m_entries[i].ifa_next = i + 1 < m_entries.size() ? &m_entries[i + 1] : nullptr;
        }
        return m_entries.empty() ? nullptr : m_entries.data();
    }

private:
    std::vector<ifaddrs> m_entries; // linked by chain(), once nothing moves them
    std::vector<sockaddr_storage> m_addresses;
    std::vector<sockaddr_storage> m_broadcasts;
    std::set<std::size_t> m_noAddress;
};

TEST(BroadcastAddress, HostListHasTheUpInterfacesIPv4AddressesSalonFirstLoopbackLast)
{
    constexpr unsigned Up = IFF_UP | IFF_RUNNING;
    constexpr unsigned Lo = IFF_UP | IFF_LOOPBACK;
    struct Case
    {
        const char* what;
        InterfaceList interfaces;
        std::vector<HostAddress> expected;
    };
    Case cases[] = {
        {"a desktop",
         InterfaceList()
             .add("lo", Lo, std::nullopt, AF_PACKET)
             .add("enp3s0", Up, std::nullopt, AF_PACKET)
             .add("lo", Lo, IPv4Address{127, 0, 0, 1})
             .add("enp3s0", Up, IPv4Address{192, 168, 1, 17})
             .add("enp3s0", Up, std::nullopt, AF_INET6),
         {{{192, 168, 1, 17}, "enp3s0", false}, {{127, 0, 0, 1}, "lo", true}}},
        {"two networks keep the system's order, a second address on one of them too",
         InterfaceList()
             .add("lo", Lo, IPv4Address{127, 0, 0, 1})
             .add("eth1", Up, IPv4Address{10, 4, 0, 9})
             .add("eth0", Up, IPv4Address{192, 168, 1, 17})
             .add("eth1", Up, IPv4Address{10, 4, 1, 9}),
         {{{10, 4, 0, 9}, "eth1", false},
          {{192, 168, 1, 17}, "eth0", false},
          {{10, 4, 1, 9}, "eth1", false},
          {{127, 0, 0, 1}, "lo", true}}},
        {"an interface that is down is left out",
         InterfaceList()
             .add("wlan0", IFF_BROADCAST, IPv4Address{192, 168, 2, 5})
             .add("lo", Lo, IPv4Address{127, 0, 0, 1}),
         {{{127, 0, 0, 1}, "lo", true}}},
        {"a 127 address counts as loopback on any interface",
         InterfaceList().add("dummy0", Up, IPv4Address{127, 0, 1, 1}).add("eth0", Up, IPv4Address{172, 16, 0, 2}),
         {{{172, 16, 0, 2}, "eth0", false}, {{127, 0, 1, 1}, "dummy0", true}}},
        {"a broadcast address is the interface's own, and only where it broadcasts",
         InterfaceList()
             .add("eth0", Up | IFF_BROADCAST, IPv4Address{10, 4, 1, 9}, AF_INET, IPv4Address{10, 4, 3, 255})
             .add("ppp0", Up | IFF_POINTOPOINT, IPv4Address{10, 64, 0, 2}, AF_INET, IPv4Address{10, 64, 0, 1}),
         {{{10, 4, 1, 9}, "eth0", false, IPv4Address{10, 4, 3, 255}}, {{10, 64, 0, 2}, "ppp0", false}}},
        {"an entry without an address", InterfaceList().withoutAddress("tun0", Up), {}},
        {"nothing at all", InterfaceList(), {}},
    };
    for (auto& c : cases)
        EXPECT_EQ(hostAddressesFrom(c.interfaces.chain()), c.expected) << c.what;
}

TEST(BroadcastAddress, ListTextNumbersTheAddressesAsNetCountsThem)
{
    const std::vector<HostAddress> hosts = {{{192, 168, 1, 17}, "enp3s0", false}, {{127, 0, 0, 1}, "lo", true}};
    EXPECT_EQ(addressListText(hosts), "0: 192.168.1.17 (enp3s0), announces to 192.168.1.255\n"
                                      "1: 127.0.0.1 (lo), announces to 127.0.0.255\n");
    EXPECT_EQ(broadcastAddressFrom(addressesOf(hosts), 1), "127.0.0.255");
    // Wake-up packets go where the netmask says; the announcement keeps its own rule.
    EXPECT_EQ(wakeAddressOf({{10, 4, 1, 9}, "eth0", false, IPv4Address{10, 4, 3, 255}}), "10.4.3.255");
    EXPECT_EQ(wakeAddressOf(hosts[0]), "192.168.1.255");
}

} // namespace
} // namespace ostrel
