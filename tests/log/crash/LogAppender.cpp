// Appends sessions to a log through SessionLog::LogSession, as the server does, for the crash test
// that kills it at random moments. Usage: ostrel_log_appender LOG [COUNT]
// Record n (from 0) is "PC-n", closed n seconds after a fixed moment, so a reader can tell a lost,
// doubled or overwritten record from a sound one. After each finished append "n\n" goes to stdout.

#include "log/HistoryTable.h"
#include "log/SessionLog.h"
#include "log/SessionLogRecord.h"
#include "support/LogTestData.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace ostrel;

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string path = argv[1];
    const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;

    // A fragment after the last whole record is overwritten by the next append.
    struct stat st
    {
    };
    std::uint64_t next =
        ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) / SessionLogRecordSize : 0;

    HistoryTable history;
    SessionLog log(path, history, [&next] { return 46000.0 + static_cast<double>(next) / 86400.0; });
    for (long done = 0; count <= 0 || done < count; ++done) {
        if (log.LogSession(testing::sampleStationRow("PC-" + std::to_string(next)), "Reset") != LogResult::Appended)
            return 1;
        const std::string line = std::to_string(next) + "\n";
        if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return 1;
        ++next;
    }
    return 0;
}
