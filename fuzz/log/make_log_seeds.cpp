// Writes the seed inputs of fuzz_log_scan and fuzz_work_report: a few sessions as the server
// writes them, and the damage a log can show (a trailing fragment, a ClosedAt that is not a
// number, a text length beyond its field, dates going backwards, amounts beyond any total).
// Usage: make_log_seeds DIR  (writes DIR/fuzz_log_scan/* and DIR/fuzz_work_report/*)

#include "core/DateTime.h"
#include "log/SessionLogRecord.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

using namespace ostrel;

namespace {

using Bytes = std::vector<std::uint8_t>;

SessionLogRecord session(double closedAt, std::string computer, std::string comment)
{
    SessionLogRecord r;
    r.closedAt = closedAt;
    r.price = 30.0;
    r.start = encodeTime(10, 0, 0);
    r.duration = encodeTime(1, 30, 0);
    r.finish = encodeTime(11, 30, 0);
    r.sum = 45.0;
    r.computer = std::move(computer);
    r.address = "127.0.0.2";
    r.status = "\xD7\xE0\xF1"; // the tariff "Час"
    r.comment = std::move(comment);
    return r;
}

void append(Bytes& log, const SessionLogRecord& r)
{
    const LogRecordBytes bytes = encodeLogRecord(r);
    log.insert(log.end(), bytes.begin(), bytes.end());
}

void appendDouble(Bytes& out, double x)
{
    auto bits = std::bit_cast<std::uint64_t>(x);
    for (int i = 0; i < 8; ++i, bits >>= 8)
        out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
}

bool save(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const double day = *encodeDate(2026, 12, 8);
    const double noon = day + 0.5;

    Bytes sessions; // three sessions of one day, in order
    append(sessions, session(day + encodeTime(9, 15, 0), "PC-01", "Ok"));
    append(sessions, session(noon, "PC-02", "Reset"));
    append(sessions, session(day + encodeTime(23, 59, 59), std::string(35, 'Z'), "Ok"));

    Bytes fragment = sessions;
    fragment.resize(fragment.size() + 100, 0x5B); // an append cut short

    Bytes notANumber;
    append(notANumber, session(noon, "PC-01", "Ok"));
    append(notANumber, session(std::numeric_limits<double>::quiet_NaN(), "PC-02", "Ok"));
    append(notANumber, session(noon + 0.01, "PC-03", "Ok"));

    Bytes overlong;
    append(overlong, session(noon, "PC-01", "Ok"));
    append(overlong, session(noon + 0.01, "PC-02", "Ok"));
    overlong[SessionLogRecordSize + 57] = 200 ^ LogScrambleMask; // Computer claims 200 bytes of 30

    Bytes backwards;
    append(backwards, session(noon, "PC-01", "Ok"));
    append(backwards, session(noon - 1.0, "PC-02", "Reset"));
    append(backwards, session(noon + 2.0, "PC-03", "Ok"));

    Bytes hugeSums; // amounts whose total is past the largest double
    for (int i = 0; i < 2; ++i) {
        SessionLogRecord r = session(noon + i * 0.01, "PC-01", "Ok");
        r.sum = std::numeric_limits<double>::max();
        append(hugeSums, r);
    }

    Bytes repeated; // sessions logged "Ok", then again "Reset" when their stations dropped
    append(repeated, session(day - 0.001, "PC-01", "Ok")); // just before the period
    append(repeated, session(day + 0.001, "PC-01", "Reset"));
    append(repeated, session(noon, "PC-02", "Ok"));
    append(repeated, session(noon + 0.001, "PC-02", "Reset"));

    const struct
    {
        const char* name;
        const Bytes* log;
    } logs[] = {{"sessions", &sessions},        {"fragment", &fragment},   {"nan_closed_at", &notANumber},
                {"overlong_length", &overlong}, {"backwards", &backwards}, {"huge_sums", &hugeSums},
                {"repeated", &repeated}};

    std::filesystem::create_directories(dir / "fuzz_log_scan");
    std::filesystem::create_directories(dir / "fuzz_work_report");
    bool ok = true;
    for (const auto& log : logs) {
        ok = save(dir / "fuzz_log_scan" / log.name, *log.log) && ok;
        // The report's input: DateBeg, DateEnd, the length cut, the log.
        Bytes report;
        appendDouble(report, day);
        appendDouble(report, day);
        report.push_back(0);
        report.insert(report.end(), log.log->begin(), log.log->end());
        ok = save(dir / "fuzz_work_report" / log.name, report) && ok;
    }

    // The period before the sessions, one that ends before the last of them, and a log whose last
    // append is still under way (its length cut).
    const struct
    {
        const char* name;
        double dateBeg;
        double dateEnd;
        std::uint8_t cut;
    } periods[] = {{"period_before", day - 30, day - 1, 0},
                   {"period_over_two_days", day - 1, day + 1, 0},
                   {"append_under_way", day, day, 100},
                   {"no_log", day, day, 255}};
    for (const auto& p : periods) {
        Bytes report;
        appendDouble(report, p.dateBeg);
        appendDouble(report, p.dateEnd);
        report.push_back(p.cut);
        report.insert(report.end(), backwards.begin(), backwards.end());
        ok = save(dir / "fuzz_work_report" / p.name, report) && ok;
    }
    if (!ok) {
        std::fprintf(stderr, "make_log_seeds: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
