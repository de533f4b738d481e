#pragma once

#include "core/UniqueFd.h"

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace ostrel {

inline constexpr std::string_view SingleInstanceName = "Ostrel_CHECKEXIST";

// A name that only one process can hold: an abstract Unix socket bound to it. The kernel drops
// it when the holder ends, however it ends, so a crashed server never locks out the next start.
// Abstract names live in the network namespace, so they leave no file behind.
//
// The holder also listens on the name: a later start, which cannot hold it, connects there to ask
// the running server to show its window, then ends. The window is on its own user's desktop, so
// the holder takes a request only from a process of its own user, and a start by another user
// learns whose server runs (the kernel's credentials of the listening end).
class SingleInstance
{
public:
    // nullopt when another process holds the name, or when the socket cannot be had at all;
    // either way this process must not run a second server.
    static std::optional<SingleInstance> claim(std::string_view name);

    // Asks the holder of the name to show itself; the user id the holder runs under, nullopt when
    // nobody holds it or the request could not be left. Never waits. The holder shows itself only
    // when that id is this process's own.
    static std::optional<uid_t> askToShow(std::string_view name);

    // The listening descriptor: readable when a show request is waiting.
    int fd() const { return m_fd.get(); }

    // Takes every waiting show request; how many there were from this process's own user (a
    // request from another user's process is taken and dropped).
    int takeShowRequests();

    // What a second start by another user is told: the server runs under that login.
    static std::string heldByAnotherUserText(std::string_view login);

private:
    explicit SingleInstance(UniqueFd fd) : m_fd(std::move(fd)) {}

    UniqueFd m_fd;
};

} // namespace ostrel
