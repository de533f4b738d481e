// The floor under the real server's cost per report: a listener that does nothing but take the
// stations' bytes, one level-triggered epoll and one receive per readable socket, no processing.
// bench/run-all.sh runs it against the same simulated stations as the real server, so the server's
// CPU per report can be read beside what the kernel alone charges for that traffic.
//   bench_bare_server PORT    (runs until killed; prints nothing)

#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(listener, SOMAXCONN) != 0)
        return 1;
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listener;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);

    std::array<epoll_event, 256> events{};
    std::array<char, 64 * 1024> buffer{};
    for (;;) {
        const int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), -1);
        for (int i = 0; i < n; ++i) {
            const int fd = events[static_cast<std::size_t>(i)].data.fd;
            if (fd == listener) {
                for (int accepted;
                     (accepted = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
                    epoll_event added{};
                    added.events = EPOLLIN;
                    added.data.fd = accepted;
                    ::epoll_ctl(ep, EPOLL_CTL_ADD, accepted, &added);
                }
                continue;
            }
            // Level-triggered: what one receive leaves is reported again by the next wait.
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                ::close(fd);
        }
    }
}
