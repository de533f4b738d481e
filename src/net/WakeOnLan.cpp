#include "net/WakeOnLan.h"

#include "net/SocketOptions.h"

#include "core/UniqueFd.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace ostrel {

std::array<std::uint8_t, MagicPacketSize> magicPacket(const HardwareAddress& hardware)
{
    std::array<std::uint8_t, MagicPacketSize> packet{};
    std::fill_n(packet.begin(), 6, std::uint8_t{0xFF});
    for (std::size_t i = 0; i < 16; ++i)
        std::copy(hardware.begin(), hardware.end(), packet.begin() + 6 + static_cast<std::ptrdiff_t>(i * 6));
    return packet;
}

std::vector<bool> sendMagicPackets(std::span<const HardwareAddress> hardware, const std::string& broadcast,
                                   std::uint16_t port)
{
    std::vector<bool> sent(hardware.size(), false);
    const auto to = socketAddress(broadcast, port);
    if (!to)
        return sent;
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return sent;
    const int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return sent;
    return sendMagicPacketsOn(fd.get(), hardware, &*to);
}

std::vector<bool> sendMagicPacketsOn(int fd, std::span<const HardwareAddress> hardware, const sockaddr_in* to)
{
    std::vector<bool> sent(hardware.size(), false);
    for (std::size_t i = 0; i < hardware.size(); ++i) {
        const auto packet = magicPacket(hardware[i]);
        ssize_t n = -1;
        for (int tries = 0; tries < 3; ++tries) {
            n = ::sendto(fd, packet.data(), packet.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                         reinterpret_cast<const sockaddr*>(to), to ? sizeof *to : 0);
            if (n >= 0 || errno != EINTR)
                break;
        }
        sent[i] = n == static_cast<ssize_t>(packet.size());
    }
    return sent;
}

} // namespace ostrel
