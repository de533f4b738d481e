// Times the work report over a generated log of a million sessions (about 168 MB, in /tmp):
//   bench_report [records] [log path]
// 1. the report text over the whole period, 2. the report window shown with that text and scrolled
// to its end (offscreen unless QT_QPA_PLATFORM says otherwise), 3. an early period, which reads the
// log only until its end.
#include "core/DateTime.h"
#include "log/SessionLogRecord.h"
#include "report/WorkReportBuilder.h"
#include "report/ui/TForm3.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <time.h>
#include <vector>

using namespace ostrel;

namespace {

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// CPU time of the process: the machine may be shared, and wall time then says little.
double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void generate(const std::string& path, std::size_t count, double firstDay)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const char* tariffs[] = {"\xD7\xE0\xF1", "\xCD\xEE\xF7\xFC", "\xC8\xE3\xF0\xE0 30"}; // Час, Ночь, Игра 30
    std::vector<char> chunk;
    chunk.reserve(4096 * SessionLogRecordSize);
    for (std::size_t i = 0; i < count; ++i) {
        SessionLogRecord r;
        r.closedAt = firstDay + static_cast<double>(i) / 1440.0; // a session a minute
        r.price = 30 + static_cast<double>(i % 3) * 10;
        r.start = static_cast<double>((i * 7919) % 86400) / 86400.0;
        r.duration = static_cast<double>((i * 104729) % 7200) / 86400.0;
        r.finish = static_cast<double>((i * 7919 + 3600) % 86400) / 86400.0;
        r.sum = static_cast<double>(i % 500) + 0.5;
        r.computer = "\xCA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0-" + std::to_string(i % 40); // Компьютер-N
        r.address = "192.168.0." + std::to_string(i % 40 + 10);
        r.status = tariffs[i % 3];
        r.comment = i % 17 == 0 ? "Reset" : "Ok";
        const auto bytes = encodeLogRecord(r);
        chunk.insert(chunk.end(), bytes.begin(), bytes.end());
        if (chunk.size() >= 4096 * SessionLogRecordSize) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            chunk.clear();
        }
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const std::string path = argc > 2 ? argv[2] : "/tmp/ostrel-bench-report.log";
    const double firstDay = *encodeDate(2024, 1, 1);
    const std::uint64_t length = count * SessionLogRecordSize;

    auto t0 = std::chrono::steady_clock::now();
    generate(path, count, firstDay);
    std::printf("generated %zu records (%.1f MB) in %.2f s: %s\n", count, static_cast<double>(length) / 1e6,
                seconds(t0), path.c_str());

    // Warm the page cache so the figures are those of the report, not of the disk.
    buildWorkReport(path, firstDay, firstDay + 10000, length);

    t0 = std::chrono::steady_clock::now();
    double c0 = cpuSeconds();
    WorkReportResult full = buildWorkReport(path, firstDay, firstDay + 10000, length);
    const double buildTime = seconds(t0);
    const double buildCpu = cpuSeconds() - c0;
    std::printf("full period text: %zu lines, %.1f MB, totals %s / %s, built in %.3f s wall, %.3f s CPU (goal 1.5 s)\n",
                full.listed.size() + 2, static_cast<double>(full.text.size()) / 1e6, full.moneyText.c_str(),
                full.time.text().c_str(), buildTime, buildCpu);

    TForm3 window;
    t0 = std::chrono::steady_clock::now();
    c0 = cpuSeconds();
    window.setReport(full);
    window.show();
    QApplication::processEvents();
    window.RichEdit1->moveCursor(QTextCursor::End);
    window.RichEdit1->verticalScrollBar()->setValue(window.RichEdit1->verticalScrollBar()->maximum());
    QApplication::processEvents();
    const double showTime = seconds(t0);
    const double showCpu = cpuSeconds() - c0;
    std::printf("report window shown and scrolled to the end: %d blocks in %.3f s wall, %.3f s CPU (goal 3 s)\n",
                window.RichEdit1->document()->blockCount(), showTime, showCpu);

    t0 = std::chrono::steady_clock::now();
    const WorkReportResult early = buildWorkReport(path, firstDay + 2, firstDay + 2, length);
    std::printf("early period (one day): %zu lines, %llu of %zu records read, %.4f s\n", early.listed.size(),
                static_cast<unsigned long long>(early.recordsRead), count, seconds(t0));
    return 0;
}
