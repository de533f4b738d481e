// Figures for the listener, printed as plain text. Everything talks to loopback only; stations bind
// 127.0.x.y addresses of their own. Run it where no resolver can be reached:
//   unshare -n -- bash -c 'ip link set lo up && build/net/bench/net/bench_net [seconds [N [M]]]'
// N connections for the throughput against the bare loop (default 100), M stations for the latency
// at ten reports a second each and the resident memory (default 500). Past about 1,000 stations the
// descriptor limit's hard ceiling must allow two descriptors per station.

#include "net/TCPServer.h"

#include "support/NetTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <thread>

using namespace ostrel;
using namespace ostrel::nettest;
using Clock = std::chrono::steady_clock;

namespace {

const Clock::time_point Epoch = Clock::now();

double microsSinceEpoch()
{
    return std::chrono::duration<double, std::micro>(Clock::now() - Epoch).count();
}

std::string stationAddress(int i)
{
    return "127.0." + std::to_string(i / 250) + "." + std::to_string(2 + i % 250);
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

int threadCount()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// The server works on its own network thread; this thread only looks now and then, and must not
// spin, or it takes a core from the thread being measured.
void runEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!done() && Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

Bytes reportBlock(int reports)
{
    Bytes block;
    for (int i = 0; i < reports; ++i) {
        const Bytes r = runningReport(1.0 + i % 7);
        block.insert(block.end(), r.begin(), r.end());
    }
    return block;
}

// Stations that send as fast as the server takes: each socket walks a repeating block of whole
// reports, so a short send only splits a report, never loses its place.
class Blaster
{
public:
    explicit Blaster(std::vector<std::unique_ptr<StationSocket>>& sockets) : m_sockets(sockets)
    {
        for (auto& s : m_sockets)
            fcntl(s->fd(), F_SETFL, fcntl(s->fd(), F_GETFL) | O_NONBLOCK);
    }
    void run(std::chrono::milliseconds duration)
    {
        static const Bytes block = reportBlock(128);
        std::vector<std::size_t> offset(m_sockets.size(), 0);
        m_sentPer.assign(m_sockets.size(), 0);
        std::vector<pollfd> waits(m_sockets.size());
        const auto deadline = Clock::now() + duration;
        while (Clock::now() < deadline) {
            bool progress = false;
            for (std::size_t i = 0; i < m_sockets.size(); ++i) {
                const ssize_t n = ::send(m_sockets[i]->fd(), block.data() + offset[i], block.size() - offset[i],
                                         MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    offset[i] = (offset[i] + static_cast<std::size_t>(n)) % block.size();
                    m_sent += static_cast<std::uint64_t>(n);
                    m_sentPer[i] += static_cast<std::uint64_t>(n);
                    progress = true;
                }
            }
            if (!progress) {
                for (std::size_t i = 0; i < m_sockets.size(); ++i)
                    waits[i] = {m_sockets[i]->fd(), POLLOUT, 0};
                poll(waits.data(), waits.size(), 10);
            }
        }
    }
    std::uint64_t sentBytes() const { return m_sent; }
    std::uint64_t wholeReportsSent() const
    {
        std::uint64_t n = 0;
        for (auto bytes : m_sentPer)
            n += bytes / StationReportSize;
        return n;
    }

private:
    std::vector<std::unique_ptr<StationSocket>>& m_sockets;
    std::uint64_t m_sent = 0;
    std::vector<std::uint64_t> m_sentPer;
};

std::vector<std::unique_ptr<StationSocket>> connectStations(int count, std::uint16_t port)
{
    std::vector<std::unique_ptr<StationSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        sockets.push_back(std::make_unique<StationSocket>(stationAddress(i), port));
        if (!sockets.back()->ok()) {
            std::fprintf(stderr, "station %d could not connect\n", i);
            std::exit(1);
        }
    }
    return sockets;
}

// The ceiling: one thread receiving from the same number of connections with epoll, counting reports.
double bareReceiveLoop(int connections, std::chrono::milliseconds duration)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto local = loopback("127.0.0.1", 0);
    bind(listener, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    listen(listener, 128);

    std::vector<std::unique_ptr<StationSocket>> stations;
    std::thread connector([&] { stations = connectStations(connections, boundPort(listener)); });
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    std::vector<int> accepted;
    for (int i = 0; i < connections; ++i) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
        accepted.push_back(fd);
    }
    connector.join();

    std::atomic<bool> stop{false};
    std::uint64_t received = 0;
    Clock::time_point measuredFrom;
    std::uint64_t receivedAtStart = 0;
    std::thread receiver([&] {
        std::vector<std::uint8_t> buffer(64 * 1024);
        epoll_event events[64];
        while (!stop) {
            const int n = epoll_wait(ep, events, 64, 10);
            for (int i = 0; i < n; ++i) {
                for (;;) {
                    const ssize_t got = recv(events[i].data.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                    if (got <= 0)
                        break;
                    received += static_cast<std::uint64_t>(got);
                }
            }
        }
    });
    Blaster blaster(stations);
    std::thread warmUp([&] { blaster.run(std::chrono::milliseconds(300)); });
    warmUp.join();
    receivedAtStart = received; // racy read, only a starting mark
    measuredFrom = Clock::now();
    blaster.run(duration);
    const double seconds = std::chrono::duration<double>(Clock::now() - measuredFrom).count();
    const std::uint64_t receivedAtEnd = received;
    stop = true;
    receiver.join();
    for (int fd : accepted)
        close(fd);
    close(ep);
    close(listener);
    return static_cast<double>(receivedAtEnd - receivedAtStart) / StationReportSize / seconds;
}

struct Server
{
    Server() : server(std::make_unique<TCPServer>()), state(*server)
    {
        server->setReportProcessor(&state.processor);
        // The real look-up would ask the resolver; the bench must not leave loopback.
        server->setNameResolver([](const std::string&) { return std::string(); });
    }
    ~Server() { server.reset(); } // the network thread stops before the state it writes goes
    std::unique_ptr<TCPServer> server;
    LiveState state;
};

std::vector<std::unique_ptr<StationSocket>> connectAndRegister(Server& s, int count)
{
    std::vector<std::unique_ptr<StationSocket>> stations;
    std::atomic<bool> connected{false};
    std::thread connector([&] {
        stations = connectStations(count, s.server->port());
        connected = true;
    });
    runEventsUntil([&] { return connected && s.server->connectionCount() == std::size_t(count); },
                   std::chrono::seconds(60));
    connector.join();
    for (auto& st : stations)
        st->send(runningReport());
    runEventsUntil([&] { return s.state.stationCount() == std::size_t(count); }, std::chrono::seconds(30));
    return stations;
}

void throughputAndThreads(int connections, std::chrono::milliseconds duration, double ceiling)
{
    Server s;
    s.server->listen(0);
    const int idleThreads = threadCount();
    auto stations = connectAndRegister(s, connections);

    std::atomic<bool> running{true};
    Blaster blaster(stations);
    std::thread sender([&] {
        blaster.run(std::chrono::milliseconds(300) + duration);
        running = false;
    });
    runEventsUntil([] { return false; }, std::chrono::milliseconds(300));
    const std::uint64_t appliedBefore = s.state.applied();
    const auto from = Clock::now();
    int peakThreads = 0;
    while (Clock::now() - from < duration) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        peakThreads = std::max(peakThreads, threadCount());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
    const std::uint64_t applied = s.state.applied() - appliedBefore;
    sender.join();
    // The sockets still hold what was sent; the burst ends when every whole report is applied.
    const std::uint64_t sentReports = std::uint64_t(connections) + blaster.wholeReportsSent();
    const auto drainFrom = Clock::now();
    runEventsUntil([&] { return s.state.applied() >= sentReports; }, std::chrono::seconds(120));
    const double drained = std::chrono::duration<double>(Clock::now() - drainFrom).count();
    const auto quietFrom = Clock::now();
    runEventsUntil([&] { return s.server->lookUpThreads() == 0; }, std::chrono::seconds(10));
    const double poolQuietAfter = std::chrono::duration<double>(Clock::now() - quietFrom).count();
    runEventsUntil([&] { return threadCount() <= idleThreads; }, std::chrono::seconds(10));
    const double quietAfter = std::chrono::duration<double>(Clock::now() - quietFrom).count();
    const int afterThreads = threadCount();

    const double rate = static_cast<double>(applied) / seconds;
    std::printf("throughput: %d connections, %.1f s: %.0f reports/s applied (%.1f %% of the bare loop's %.0f)\n",
                connections, seconds, rate, ceiling > 0 ? 100.0 * rate / ceiling : 0.0, ceiling);
    std::printf("threads: idle %d, peak %d; the sockets' backlog drained %.1f s after the senders stopped; then "
                "look-up threads gone after %.1f s, process back to %d thread(s) after %.1f s\n",
                idleThreads, peakThreads, drained, poolQuietAfter, afterThreads, quietAfter);
}

void latencyAndMemory(int connections, std::chrono::milliseconds duration)
{
    Server s;
    std::mutex samplesMutex;
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(connections) * 10 * (duration.count() / 1000 + 2));
    std::atomic<bool> measuring{false};
    s.server->setReportObserver([&](const Connection&, const StationReport& report) {
        if (!measuring || report.allowance <= 0)
            return;
        const double latency = microsSinceEpoch() - report.allowance;
        std::scoped_lock hold(samplesMutex);
        samples.push_back(latency);
    });
    s.server->listen(0);
    const long rssBefore = residentKiB();
    auto stations = connectAndRegister(s, connections);
    const long rssConnected = residentKiB();

    // Every station reports ten times a second, the stations spread evenly over each 100 ms.
    measuring = true;
    std::thread sender([&] {
        const auto period = std::chrono::microseconds(100'000);
        const auto step = period / connections;
        const auto start = Clock::now();
        for (auto tick = start; tick - start < duration; tick += period) {
            for (int i = 0; i < connections; ++i) {
                std::this_thread::sleep_until(tick + step * i);
                StationReport r = runningStationReport();
                r.allowance = microsSinceEpoch();
                const auto bytes = encodeStationReport(r);
                ::send(stations[static_cast<std::size_t>(i)]->fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            }
        }
    });
    std::atomic<bool> sent{false};
    std::thread waiter([&] {
        sender.join();
        sent = true;
    });
    runEventsUntil([&] { return sent.load(); }, duration + std::chrono::seconds(30));
    runEventsUntil([] { return false; }, std::chrono::milliseconds(200)); // the last reports land
    waiter.join();
    measuring = false;
    const long rssLoaded = residentKiB();

    std::scoped_lock hold(samplesMutex);
    std::sort(samples.begin(), samples.end());
    auto at = [&](double q) {
        return samples.empty() ? 0.0 : samples[std::min(samples.size() - 1, std::size_t(q * double(samples.size())))];
    };
    std::printf("latency: %d connections x 10 reports/s, %zu reports: p50 %.0f us, p99 %.0f us, max %.0f us\n",
                connections, samples.size(), at(0.50), at(0.99), samples.empty() ? 0.0 : samples.back());
    std::printf("memory: resident %.1f MB before the stations, %.1f MB with %d stations connected, %.1f MB after "
                "the latency run\n",
                double(rssBefore) / 1024, double(rssConnected) / 1024, connections, double(rssLoaded) / 1024);
}

// What report processing alone takes: one thread applying decoded reports to `stations` stations.
double processorAlone(std::chrono::milliseconds duration, int stations = 100)
{
    NoTransport transport;
    LiveState state(transport);
    struct Link : StationLink
    {
        std::string name;
        const std::string& hostName() const override { return name; }
        const std::string& address() const override { return name; }
        bool isClosed() const override { return false; }
    };
    std::vector<Link> links(static_cast<std::size_t>(stations));
    for (std::size_t i = 0; i < links.size(); ++i)
        links[i].name = stationAddress(static_cast<int>(i));
    std::vector<StationReport> reports;
    for (int i = 0; i < 7; ++i) {
        const Bytes r = runningReport(1.0 + i);
        reports.push_back(*decodeStationReport(std::span<const std::uint8_t, StationReportSize>(r.data(), r.size())));
    }
    std::uint64_t applied = 0;
    const auto from = Clock::now();
    while (Clock::now() - from < duration) {
        for (int k = 0; k < 1000; ++k, ++applied)
            state.processor.applyReport(links[applied % links.size()], reports[applied % reports.size()]);
    }
    return static_cast<double>(applied) / std::chrono::duration<double>(Clock::now() - from).count();
}

} // namespace

int main(int argc, char** argv)
{
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int connections = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 60'000) : 100;
    const int stations = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 60'000) : 500;
    const std::chrono::milliseconds duration(seconds * 1000);

    const double ceiling = bareReceiveLoop(connections, duration);
    std::printf("bare receive loop: %d connections: %.0f reports/s\n", connections, ceiling);
    std::printf("report processing alone: one thread, 100 stations: %.0f reports/s\n", processorAlone(duration));
    std::printf("report processing alone at the station count: one thread, %d stations: %.0f reports/s\n", connections,
                processorAlone(duration, connections));
    throughputAndThreads(connections, duration, ceiling);
    latencyAndMemory(stations, duration);
    return 0;
}
