#include "app/SingleInstance.h"

#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace ostrel {

std::optional<SingleInstance> SingleInstance::claim(std::string_view name)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract names start with a zero byte and are not terminated.
    if (name.empty() || name.size() + 1 > sizeof(address.sun_path))
        return std::nullopt;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return SingleInstance(fd);
}

SingleInstance::SingleInstance(SingleInstance&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

SingleInstance& SingleInstance::operator=(SingleInstance&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace ostrel
