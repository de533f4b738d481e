// bench_chain CONNINFO RECORDS: writes a log of RECORDS sessions into a temporary folder, ships it
// into the (empty) database and prints the rate, with the shipper's CPU time per record.

#include "chain/ChainShipper.h"
#include "chain/ChainTestData.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

using namespace ostrel;

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const int records = std::atoi(argv[2]);
    std::string dir = (std::filesystem::temp_directory_path() / "ostrel-bench-chain-XXXXXX").string();
    if (!::mkdtemp(dir.data()))
        return 2;
    chaintest::appendRecords(dir + "/Ostrel.log", chaintest::salonSessions(*encodeDate(2026, 3, 2), records));
    ChainTiming timing;
    timing.poll = std::chrono::milliseconds(5);
    ChainShipper shipper({argv[1], "Bench"}, {dir + "/Ostrel.log", dir + "/none.csv", dir + "/none2.csv", {}, {}, {}},
                         timing);
    timespec cpu0{}, cpu1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
    const auto start = std::chrono::steady_clock::now();
    shipper.start();
    const bool done = chaintest::waitUntil(
        [&] { return shipper.status().shipped >= static_cast<std::uint64_t>(records); }, std::chrono::seconds(600));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
    shipper.stop();
    std::filesystem::remove_all(dir);
    if (!done) {
        std::fprintf(stderr, "bench_chain: not shipped: %s\n", shipper.status().lastError.c_str());
        return 1;
    }
    const double cpu = (cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
    std::printf("chain_ship_records=%d\nchain_ship_seconds=%.2f\nchain_ship_records_per_s=%.0f\n"
                "chain_ship_client_cpu_us_per_record=%.2f\n",
                records, seconds, records / seconds, cpu * 1e6 / records);
    return 0;
}
