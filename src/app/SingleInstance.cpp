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

// The user id of the process at the other end of a connected local socket: for the connecting side
// the one that listened, for the accepting side the one that connected.
std::optional<uid_t> peerUid(int fd)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
        return std::nullopt;
    return credentials.uid;
}

} // namespace

std::optional<SingleInstance> SingleInstance::claim(std::string_view name)
{
    const auto address = abstractAddress(name);
    if (!address)
        return std::nullopt;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address->first), address->second) != 0)
        return std::nullopt;
    // Without listening the name is held all the same; later starts then only end.
    static_cast<void>(::listen(fd.get(), 8));
    return SingleInstance(std::move(fd));
}

std::optional<uid_t> SingleInstance::askToShow(std::string_view name)
{
    const auto address = abstractAddress(name);
    if (!address)
        return std::nullopt;
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // A local connect completes at once or fails at once (EAGAIN when the holder's queue is full).
    if (!fd || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address->first), address->second) != 0)
        return std::nullopt;
    return peerUid(fd.get());
}

int SingleInstance::takeShowRequests()
{
    int taken = 0;
    for (int accepted = 0; m_fd && accepted < MostRequestsAtOnce; ++accepted) {
        const UniqueFd request(::accept4(m_fd.get(), nullptr, nullptr, SOCK_CLOEXEC)); // the connection is the request
        if (!request)
            break;
        if (peerUid(request.get()) == ::geteuid())
            ++taken;
    }
    return taken;
}

std::string SingleInstance::heldByAnotherUserText(std::string_view login)
{
    return "Сервер интернет-салона уже запущен пользователем \"" + std::string(login) +
           "\".\nЕго окно открыто на рабочем столе этого пользователя.";
}

} // namespace ostrel
