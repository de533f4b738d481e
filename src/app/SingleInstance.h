#pragma once

#include <optional>
#include <string_view>

namespace ostrel {

inline constexpr std::string_view SingleInstanceName = "Ostrel_CHECKEXIST";

// A name that only one process can hold: an abstract Unix socket bound to it. The kernel drops
// it when the holder ends, however it ends, so a crashed server never locks out the next start.
// Abstract names live in the network namespace, so they leave no file behind.
class SingleInstance
{
public:
    // nullopt when another process holds the name, or when the socket cannot be had at all;
    // either way this process must not run a second server.
    static std::optional<SingleInstance> claim(std::string_view name);

    SingleInstance(SingleInstance&& other) noexcept;
    SingleInstance& operator=(SingleInstance&& other) noexcept;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    ~SingleInstance();

private:
    explicit SingleInstance(int fd) : m_fd(fd) {}

    int m_fd = -1;
};

} // namespace ostrel
