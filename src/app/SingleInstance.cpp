#include "app/SingleInstance.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace ostrel {

namespace {

// The abstract address of a name and its length; nullopt for a name that cannot be one.
std::optional<std::pair<sockaddr_un, socklen_t>> abstractAddress(std::string_view name)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract names start with a zero byte and are not terminated.
    if (name.empty() || name.size() + 1 > sizeof(address.sun_path))
        return std::nullopt;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return std::pair{address, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())};
}

constexpr int MostRequestsAtOnce = 64;

} // namespace

std::optional<SingleInstance> SingleInstance::claim(std::string_view name)
{
    const auto address = abstractAddress(name);
    if (!address)
        return std::nullopt;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return std::nullopt;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address->first), address->second) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    // Without listening the name is held all the same; later starts then only end.
    static_cast<void>(::listen(fd, 8));
    return SingleInstance(fd);
}

bool SingleInstance::askToShow(std::string_view name)
{
    const auto address = abstractAddress(name);
    if (!address)
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    // A local connect completes at once or fails at once (EAGAIN when the holder's queue is full).
    const bool asked = ::connect(fd, reinterpret_cast<const sockaddr*>(&address->first), address->second) == 0;
    ::close(fd);
    return asked;
}

int SingleInstance::takeShowRequests()
{
    int taken = 0;
    while (m_fd >= 0 && taken < MostRequestsAtOnce) {
        const int request = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (request < 0)
            break;
        ::close(request);
        ++taken;
    }
    return taken;
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
