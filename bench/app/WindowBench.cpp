// CPU of the GUI thread while the main window shows a busy hall: the real server and its window in
// this process, a feeder thread that changes the station table as the network thread does (each
// station reports twice a second, its time cells change once a second, and every second one
// station leaves and comes back), and the GUI thread's CPU read from /proc/self/task.
// Usage: bench_window [seconds per size=10] [stations...=100 300 2000]
// Prints, per size: the GUI thread's and the feeder's CPU in percent of one core, the reloads the
// model made, and how long an arriving station took to show (mean and max).
// Start-up announces the server on its host's interfaces: run this only where loopback is the one
// interface up (`unshare -n` with lo up). Offscreen unless QT_QPA_PLATFORM says otherwise.

#include "BenchDesk.h"

#include "core/StationTableMutex.h"
#include "log/ui/HistoryTableModel.h"
#include "stations/StationTable.h"
#include "stations/ui/StationTableModel.h"

#include <QApplication>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace proctest = ostrel::proctest;
using Clock = std::chrono::steady_clock;

constexpr int ReportsPerSecond = 2;

// User plus system CPU of one thread of this process, in seconds.
double threadCpuSeconds(long tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')'); // the name may hold blanks
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) { // fields 14 and 15 of stat(5)
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long currentTid()
{
    return static_cast<long>(::syscall(SYS_gettid));
}

std::string name(int i)
{
    char text[16];
    std::snprintf(text, sizeof text, "pc%04d", i);
    return text;
}

std::string clockText(long seconds)
{
    char text[16];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
    return text;
}

std::string money(long cents)
{
    return std::to_string(cents / 100) + "," + std::to_string(cents % 100 / 10) + std::to_string(cents % 10);
}

// Changes the station table as the network thread does, from its own thread.
class Feeder
{
public:
    Feeder(ostrel::Server& server, int stations) : m_server(server), m_stations(stations)
    {
        std::scoped_lock hold(ostrel::StationTableMutex);
        for (int i = 0; i < stations; ++i) {
            const auto row = server.stations().AddStationRow(name(i), "10.0." + std::to_string(i / 250) + "." +
                                                                          std::to_string(i % 250 + 1));
            server.stations().setCell(*row, ostrel::ColStatus, "\xC8\xE3\xF0\xE0"); // "Игра"
            server.stations().setCell(*row, ostrel::ColPrice, "60,00");
            server.stations().setCell(*row, ostrel::ColStart, clockText(36000 + i));
        }
    }

    ~Feeder() { stop(); }

    void start()
    {
        m_thread = std::thread([this] { run(); });
    }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    long tid() const { return m_tid.load(); }
    Clock::time_point arrivedAt() const { return Clock::time_point(Clock::duration(m_arrivedAt.load())); }

private:
    void report(int i, long now)
    {
        ostrel::StationTable& table = m_server.stations();
        bool changed = false;
        {
            std::scoped_lock hold(ostrel::StationTableMutex);
            const auto row = table.FindStationRow(name(i));
            if (!row)
                return;
            const std::uint64_t before = table.version();
            const long elapsed = now - i % 3600;
            table.setCell(*row, ostrel::ColElapsed, clockText(std::max(0L, elapsed)));
            table.setCell(*row, ostrel::ColLeft, clockText(std::max(0L, 7200 - elapsed % 7200)));
            table.setCell(*row, ostrel::ColSum, money(elapsed / 60 * 100));
            changed = table.version() != before;
        }
        if (changed) // as the report processor's changed callback
            notify();
    }

    void notify()
    {
        m_server.stationModel().requestReload();
        m_server.historyModel().requestReload();
    }

    void run()
    {
        m_tid = currentTid();
        const auto started = Clock::now();
        constexpr auto Tick = std::chrono::milliseconds(10);
        const double perTick = static_cast<double>(m_stations) * ReportsPerSecond * 0.010;
        double due = 0;
        int next = 0;
        auto tick = started;
        int gone = -1;
        long lastChurn = 0;
        while (!m_stop) {
            tick += Tick;
            std::this_thread::sleep_until(tick);
            const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
            const long now = 36000 + since / 1000;
            // Every second one station leaves, and comes back half a second later.
            if (since / 1000 > lastChurn && gone < 0) {
                lastChurn = since / 1000;
                gone = static_cast<int>(lastChurn * 7919 % m_stations);
                {
                    std::scoped_lock hold(ostrel::StationTableMutex);
                    m_server.stations().RemoveStationRow(name(gone));
                }
                notify();
            } else if (gone >= 0 && since % 1000 >= 500) {
                {
                    std::scoped_lock hold(ostrel::StationTableMutex);
                    m_server.stations().AddStationRow(name(gone), "10.9.9.9");
                }
                m_arrivedAt = Clock::now().time_since_epoch().count();
                notify();
                gone = -1;
            }
            for (due += perTick; due >= 1; due -= 1) {
                report(next, now);
                next = (next + 1) % m_stations;
            }
        }
    }

    ostrel::Server& m_server;
    const int m_stations;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_tid{0};
    std::atomic<Clock::rep> m_arrivedAt{0};
};

void runEventLoop(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// One size: a fresh server and window, the feeder running for a second to settle, then `seconds`
// measured.
bool measure(int stations, int seconds)
{
    const ostrel::bench::BenchFolder folder("ostrel_bench_window");
    bool ok = true;
    {
        ostrel::bench::BenchDesk desk(folder.path());
        ostrel::Server& server = desk.server;
        ostrel::TForm1& form1 = desk.form1;
        if (!desk.started) {
            std::fprintf(stderr, "bench_window: start-up failed: %s\n", server.startupFailure()->c_str());
            ok = false;
        } else {
            Feeder feeder(server, stations);
            form1.show();
            runEventLoop(500);

            // How long an arriving station takes to show: from its insertion into the table to the
            // model's row insert on this thread.
            std::vector<double> arrivals;
            int reloads = 0;
            QObject::connect(&server.stationModel(), &QAbstractItemModel::rowsInserted, &form1, [&] {
                const auto at = feeder.arrivedAt();
                if (at.time_since_epoch().count() != 0)
                    arrivals.push_back(std::chrono::duration<double, std::milli>(Clock::now() - at).count());
            });
            QObject::connect(&server.stationModel(), &QAbstractItemModel::dataChanged, &form1,
                             [&, last = Clock::time_point{}]() mutable {
                                 // Many ranges of one reload come in the same instant.
                                 const auto now = Clock::now();
                                 if (now - last > std::chrono::milliseconds(2))
                                     ++reloads;
                                 last = now;
                             });
            feeder.start();
            runEventLoop(1000);
            arrivals.clear();
            reloads = 0;

            const long gui = currentTid();
            const double gui0 = threadCpuSeconds(gui);
            const double feeder0 = threadCpuSeconds(feeder.tid());
            const auto wall0 = Clock::now();
            runEventLoop(seconds * 1000);
            const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
            const double guiCpu = threadCpuSeconds(gui) - gui0;
            const double feederCpu = threadCpuSeconds(feeder.tid()) - feeder0;
            feeder.stop();

            double mean = 0;
            double worst = 0;
            for (const double ms : arrivals) {
                mean += ms;
                worst = std::max(worst, ms);
            }
            if (!arrivals.empty())
                mean /= static_cast<double>(arrivals.size());
            std::printf("window %d stations: GUI thread %.2f %% of one core, feeder %.2f %%, %.1f reloads/s, "
                        "arrival shown after %.1f ms mean, %.1f ms max (%zu arrivals, %.1f s)\n",
                        stations, 100 * guiCpu / wall, 100 * feederCpu / wall, reloads / wall, mean, worst,
                        arrivals.size(), wall);
            std::fflush(stdout);
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(std::max(1, std::atoi(argv[i])));
    if (sizes.empty())
        sizes = {100, 300, 2000};
    if (std::string why; !proctest::onlyLoopbackIsUp(&why)) {
        std::fprintf(stderr, "bench_window: %s\n", why.c_str());
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    for (const int stations : sizes) {
        if (!measure(stations, seconds))
            return 1;
    }
    return 0;
}
