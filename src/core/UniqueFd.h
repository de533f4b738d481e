#pragma once

#include <unistd.h>

#include <utility>

namespace ostrel {

// The one owner of a file descriptor: closes it exactly once, when it goes or is reset; moving hands
// the descriptor over and leaves -1 behind.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const noexcept { return m_fd; }
    explicit operator bool() const noexcept { return m_fd >= 0; }

    // Gives the descriptor up without closing it, for an owner that takes it over (Asio's sockets).
    [[nodiscard]] int release() noexcept { return std::exchange(m_fd, -1); }

    void reset(int fd = -1) noexcept
    {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0 && old != fd)
            ::close(old);
    }

private:
    int m_fd = -1;
};

} // namespace ostrel
