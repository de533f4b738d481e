// How much load one simulator process can offer: N stations at R reports per second each against
// an in-process sink that accepts, reads and discards on loopback. Prints key=value lines.
//
//   station_bench [STATIONS [RATE [SECONDS]]]     (defaults 500 10 10)

#include "Simulator.h"

#include <arpa/inet.h>
#include <atomic>
#include <charconv>
#include <iomanip>
#include <iostream>
#include <netinet/in.h>
#include <sstream>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

double argument(int argc, char** argv, int index, double fallback)
{
    if (index >= argc)
        return fallback;
    double x = fallback;
    std::from_chars(argv[index], argv[index] + std::char_traits<char>::length(argv[index]), x);
    return x;
}

double threadCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace ostrel::sim;
    const int stations = static_cast<int>(argument(argc, argv, 1, 500));
    const double rate = argument(argc, argv, 2, 10);
    const double seconds = argument(argc, argv, 3, 10);

    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener, 4096) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
        std::cerr << "station_bench: cannot listen on 127.0.0.1\n";
        return 1;
    }

    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> received{0};
    std::thread sink([&] {
        const int ep = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = listener;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
        std::vector<epoll_event> events(256);
        std::vector<char> buffer(1 << 16);
        while (!done.load()) {
            const int n = ::epoll_wait(ep, events.data(), static_cast<int>(events.size()), 100);
            for (int i = 0; i < n; ++i) {
                const int fd = events[static_cast<std::size_t>(i)].data.fd;
                if (fd == listener) {
                    for (int c; (c = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
                        epoll_event cev{};
                        cev.events = EPOLLIN;
                        cev.data.fd = c;
                        ::epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
                    }
                    continue;
                }
                const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
                if (got > 0)
                    received += static_cast<std::uint64_t>(got);
                else if (got == 0)
                    ::close(fd);
            }
        }
        ::close(ep);
    });

    SimulatorOptions options;
    options.discovery = false;
    options.serverAddress = "127.0.0.1";
    options.tcpPort = ntohs(at.sin_port);
    options.stations = stations;
    options.rate = rate;
    options.durationSeconds = seconds;
    options.load = true;
    std::ostringstream quiet;
    Simulator simulator(options, quiet);
    std::string error;
    if (!simulator.open(error)) {
        std::cerr << "station_bench: " << error << "\n";
        done = true;
        sink.join();
        return 1;
    }
    const double cpuBefore = threadCpuSeconds();
    const double ran = simulator.run();
    const double cpu = threadCpuSeconds() - cpuBefore;
    done = true;
    sink.join();
    ::close(listener);

    simulator.printSummary(std::cout, ran);
    const auto& stats = simulator.stats();
    std::cout << std::fixed << std::setprecision(1)
              << "reports_per_second=" << static_cast<double>(stats.reportsSent) / ran << "\n"
              << "asked_reports_per_second=" << rate * stations << "\n"
              << "simulator_cpu_seconds=" << cpu << "\n"
              << "sink_bytes=" << received.load() << "\n";
    return 0;
}
