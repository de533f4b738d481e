#pragma once

#include "core/UniqueFd.h"

#include <optional>
#include <string_view>

namespace ostrel {

inline constexpr std::string_view SingleInstanceName = "Ostrel_CHECKEXIST";

// A name that only one process can hold: an abstract Unix socket bound to it. The kernel drops
// it when the holder ends, however it ends, so a crashed server never locks out the next start.
// Abstract names live in the network namespace, so they leave no file behind.
//
// The holder also listens on the name: a later start, which cannot hold it, connects there to ask
// the running server to show its window, then ends.
class SingleInstance
{
public:
    // nullopt when another process holds the name, or when the socket cannot be had at all;
    // either way this process must not run a second server.
    static std::optional<SingleInstance> claim(std::string_view name);

    // Asks the holder of the name to show itself; false when nobody holds it or the request could
    // not be left. Never waits.
    static bool askToShow(std::string_view name);

    // The listening descriptor: readable when a show request is waiting.
    int fd() const { return m_fd.get(); }

    // Takes every waiting show request; how many there were.
    int takeShowRequests();

private:
    explicit SingleInstance(UniqueFd fd) : m_fd(std::move(fd)) {}

    UniqueFd m_fd;
};

} // namespace ostrel
