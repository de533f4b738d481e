#include "net/WakeOnLan.h"

#include "net/SocketOptions.h"

#include "core/UniqueFd.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <sys/time.h>

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
    const timeval wait{0, 100'000};
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) != 0)
        return sent;
    for (std::size_t i = 0; i < hardware.size(); ++i) {
        const auto packet = magicPacket(hardware[i]);
        ssize_t n = -1;
        for (int tries = 0; tries < 3; ++tries) {
            n = ::sendto(fd.get(), packet.data(), packet.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&*to),
                         sizeof *to);
            if (n >= 0 || errno != EINTR)
                break;
        }
        sent[i] = n == static_cast<ssize_t>(packet.size());
    }
    return sent;
}

} // namespace ostrel
