// CPU time of an idle server, beside what an idle Qt program costs at all:
//   1. an empty event loop: a QApplication with no window, nothing to do (the floor);
//   2. the main window started in this process as the server starts it, shown (its animated
//      picture redraws a few times a second);
//   3. the same window hidden to the tray, as the tray icon's double click hides it.
// Usage: bench_idle [seconds per phase=10]
// Start-up announces the server on its host's interfaces: run this only where loopback is the one
// interface up (`unshare -n` with lo up). Offscreen unless QT_QPA_PLATFORM says otherwise.

#include "BenchDesk.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <time.h>

namespace {

namespace apptest = ostrel::apptest;
namespace proctest = ostrel::proctest;

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Percent of one core that the whole process used while its event loop ran for `seconds`.
double idlePercent(int seconds)
{
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    timespec wall0{};
    clock_gettime(CLOCK_MONOTONIC, &wall0);
    const double cpu0 = processCpuSeconds();
    loop.exec();
    const double cpu = processCpuSeconds() - cpu0;
    timespec wall1{};
    clock_gettime(CLOCK_MONOTONIC, &wall1);
    const double wall =
        static_cast<double>(wall1.tv_sec - wall0.tv_sec) + static_cast<double>(wall1.tv_nsec - wall0.tv_nsec) / 1e9;
    return 100.0 * cpu / wall;
}

// A folder with the sample Ostrel.ini on free ports, as the server's own folder.
} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    if (std::string why; !proctest::onlyLoopbackIsUp(&why)) {
        std::fprintf(stderr, "bench_idle: %s\n", why.c_str());
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    std::printf("idle CPU, empty event loop (no window):   %.2f %% of one core over %d s\n", idlePercent(seconds),
                seconds);

    const ostrel::bench::BenchFolder folder("ostrel_bench_idle");
    int result = 0;
    {
        ostrel::bench::BenchDesk desk(folder.path());
        ostrel::TForm1& form1 = desk.form1;
        if (!desk.started) {
            std::fprintf(stderr, "bench_idle: start-up failed: %s\n", desk.server.startupFailure()->c_str());
            result = 1;
        } else {
            form1.show();
            idlePercent(1); // the first paint and the layout settle
            std::printf("idle CPU, main window shown, listening:   %.2f %% of one core over %d s\n",
                        idlePercent(seconds), seconds);
            form1.RxTrayIcon1DblClick();
            idlePercent(1);
            std::printf("idle CPU, main window hidden to the tray: %.2f %% of one core over %d s (%s)\n",
                        idlePercent(seconds), seconds, form1.isVisible() ? "still visible" : "hidden");
        }
    }
    return result;
}
