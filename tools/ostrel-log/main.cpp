// ostrel-log: shows, converts and checks a session log and the audit trail. It only reads the files.

#include "LogTextWriter.h"
#include "chain/ChainReport.h"
#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/AuditCheck.h"
#include "log/AuditTrail.h"
#include "log/CashBook.h"
#include "log/LogScan.h"
#include "report/CsvExport.h"
#include "report/WorkReportBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>

using namespace ostrel;

namespace {

constexpr const char* Usage = R"(Usage: ostrel-log COMMAND [FILE]
  or:  ostrel-log chain --database CONN --from DD.MM.YYYY --to DD.MM.YYYY [--csv]
  or:  ostrel-log --help | --version

Reads a session log (Ostrel.log in the current folder when FILE is left out), the audit
trail of commands (Ostrel.audit.csv) or the cash book of handed-over shifts (Ostrel.cash.csv).

Commands:
  dump    every record decoded, one tab-separated line each (texts as UTF-8)
  csv     the records as the work report's CSV export writes them: UTF-8 with a byte order
          mark, ";" between fields, then the totals per computer and per tariff
  check   counts the records and reports damage: a trailing fragment, a ClosedAt that is not
          a valid date-time or goes backwards, a text length beyond its field; on the cash
          book: its lines checked, the first damaged one named
  audit   the audit trail checked line by line: each line with "ok" or "DAMAGED" and why,
          fields tab-separated
  cash    the cash book's shifts, one tab-separated line each, the damaged lines named
  chain   the chain's database (CONN: a libpq connection string): per salon the sessions, the
          repeats left out, the money and the time of the period by the work report's rules,
          then the grand total; tab-separated, or CSV with --csv

Exit status:
  0  done (check, audit, cash: the file is intact)
  1  they found damage (csv: the records from the damaged one on are left out)
  2  bad arguments, a missing or unreadable file, a file of another kind, or output that could
     not be written

Files:
  Ostrel.log        the session log: a record of every ended session
  Ostrel.audit.csv  the audit trail: a line for every command sent to a station
  Ostrel.cash.csv   the cash book: a line for every shift handed over

The server writes them in the folder of its executable, /opt/ostrel once the package is
installed, where the operators of the group "ostrel" share them (ostrel-server(1) names the
others it writes there).
)";

constexpr std::size_t FlushSize = 1 << 20;

class Output
{
public:
    ~Output() { flush(); }
    std::string& buffer() { return m_buffer; }
    bool failed() const { return m_failed; }

    void flushIfFull()
    {
        if (m_buffer.size() >= FlushSize)
            flush();
    }

    void flush()
    {
        const char* p = m_buffer.data();
        std::size_t left = m_buffer.size();
        while (left > 0 && !m_failed) {
            const ssize_t n = ::write(STDOUT_FILENO, p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_failed = true;
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        m_buffer.clear();
    }

private:
    std::string m_buffer;
    bool m_failed = false;
};

// Missing and unreadable files, and read errors, end the run with a message; returns false then.
bool reportScanFailure(const std::string& path, const LogScanResult& result)
{
    switch (result.status) {
    case LogScanStatus::Complete:
    case LogScanStatus::Stopped:
        return true;
    case LogScanStatus::Missing:
        std::fprintf(stderr, "ostrel-log: %s: no such file\n", path.c_str());
        return false;
    case LogScanStatus::OpenFailed:
        std::fprintf(stderr, "ostrel-log: %s: cannot open: %s\n", path.c_str(), std::strerror(result.error));
        return false;
    case LogScanStatus::ReadFailed:
        std::fprintf(stderr, "ostrel-log: %s: read failed after %llu records: %s\n", path.c_str(),
                     static_cast<unsigned long long>(result.records), std::strerror(result.error));
        return false;
    }
    return false;
}

void noteFragment(const std::string& path, const LogScanResult& result)
{
    if (result.fragmentBytes > 0)
        std::fprintf(stderr, "ostrel-log: %s: trailing fragment of %llu bytes not shown\n", path.c_str(),
                     static_cast<unsigned long long>(result.fragmentBytes));
}

// A session log's first record closes a session of this era and keeps its texts within their
// fields; any other file (an audit trail, a picture) would come out as made-up records.
constexpr int FirstLogYear = 1990;
constexpr int LastLogYear = 2199;

bool isSessionRecord(const LogScanEntry& entry)
{
    static const double from = *encodeDate(FirstLogYear, 1, 1);
    static const double until = *encodeDate(LastLogYear + 1, 1, 1);
    return isValidDateTime(entry.closedAt) && entry.closedAt >= from && entry.closedAt < until &&
           logRecordLengthsValid(entry.bytes);
}

// Refuses, on standard error, a file that is not a session log; false then. A file with no whole
// record is a log only when it is empty.
bool checkIsSessionLog(const std::string& path)
{
    bool first = true;
    const LogScanResult result = scanLogFile(path, [&](const LogScanEntry& entry) {
        first = isSessionRecord(entry);
        return false;
    });
    if (!reportScanFailure(path, result))
        return false;
    if (first && (result.records > 0 || result.fragmentBytes == 0))
        return true;
    std::fprintf(stderr, "ostrel-log: %s: not a session log\n", path.c_str());
    return false;
}

int finishOutput(Output& out)
{
    out.flush();
    if (out.failed()) {
        std::fprintf(stderr, "ostrel-log: cannot write the output: %s\n", std::strerror(errno));
        return 2;
    }
    return 0;
}

int runDump(const std::string& path)
{
    if (!checkIsSessionLog(path))
        return 2;
    Output out;
    LogTextWriter writer;
    LogTextWriter::dumpHeader(out.buffer());
    const LogScanResult result = scanLogFile(path, [&](const LogScanEntry& entry) {
        writer.dumpLine(out.buffer(), entry.index, decodeLogRecord(entry.bytes));
        out.flushIfFull();
        return !out.failed();
    });
    if (!reportScanFailure(path, result))
        return 2;
    if (const int failed = finishOutput(out))
        return failed;
    noteFragment(path, result);
    return 0;
}

// The whole log as the report window exports a period: the same sessions listed, the same
// repeats left out of the totals.
int runCsv(const std::string& path)
{
    if (!checkIsSessionLog(path))
        return 2;
    constexpr double Earliest = std::numeric_limits<double>::lowest() / 2;
    constexpr double Latest = std::numeric_limits<double>::max() / 2;
    constexpr std::uint64_t WholeFile = std::numeric_limits<std::uint64_t>::max();
    const WorkReportResult report = buildWorkReportSpan(path, Earliest, Latest, WholeFile);
    if (report.outcome == WorkReportResult::Outcome::OpenFailed) {
        std::fprintf(stderr, "ostrel-log: %s: cannot open: %s\n", path.c_str(), std::strerror(report.error));
        return 2;
    }
    const auto csv = exportWorkReportCsv(path, report.listed, report.repeats);
    if (!csv) {
        std::fprintf(stderr, "ostrel-log: %s: read failed\n", path.c_str());
        return 2;
    }
    Output out;
    out.buffer() = *csv;
    if (const int failed = finishOutput(out))
        return failed;
    if (!report.damaged())
        return 0;
    std::fprintf(stderr, "ostrel-log: %s: damaged; the damaged record and those after it are left out (see check)\n",
                 path.c_str());
    return 1;
}

int runCheck(const std::string& path)
{
    const LogScanResult result = scanLogFile(path, {});
    if (!reportScanFailure(path, result))
        return 2;

    const auto records = static_cast<unsigned long long>(result.records);
    std::printf("%s: %llu records (%llu bytes)\n", path.c_str(), records,
                records * SessionLogRecordSize + static_cast<unsigned long long>(result.fragmentBytes));
    if (result.fragmentBytes > 0)
        std::printf("trailing fragment: %llu bytes at offset %llu\n",
                    static_cast<unsigned long long>(result.fragmentBytes), records * SessionLogRecordSize);
    if (result.firstBadDate) {
        const auto index = static_cast<unsigned long long>(*result.firstBadDate);
        const std::string value = LogTextWriter::dateTime(result.badDateValue);
        if (result.badDateFault == LogDateFault::NotValid)
            std::printf("record %llu (offset %llu): ClosedAt %s is not a valid date-time\n", index,
                        index * SessionLogRecordSize, value.c_str());
        else
            std::printf("record %llu (offset %llu): ClosedAt %s is earlier than %s before it\n", index,
                        index * SessionLogRecordSize, value.c_str(),
                        LogTextWriter::dateTime(result.previousClosedAt).c_str());
    }
    if (result.firstBadLength) {
        const auto index = static_cast<unsigned long long>(*result.firstBadLength);
        std::printf("record %llu (offset %llu): a text length exceeds its field\n", index,
                    index * SessionLogRecordSize);
    }
    std::printf("%s\n", result.intact() ? "intact" : "damaged");
    return result.intact() ? 0 : 1;
}

// The whole of a text file; nullopt, said on standard error, when it cannot be read.
std::optional<std::string> readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "ostrel-log: %s: cannot open: %s\n", path.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        std::fprintf(stderr, "ostrel-log: %s: read failed\n", path.c_str());
        return std::nullopt;
    }
    return std::move(content).str();
}

// The audit trail and the cash book are text: a control byte other than a tab or a line end means
// another kind of file, whose bytes must not go to the terminal.
bool checkIsText(const std::string& path, std::string_view content)
{
    const auto isControl = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F;
    };
    if (std::find_if(content.begin(), content.end(), isControl) == content.end())
        return true;
    std::fprintf(stderr, "ostrel-log: %s: not a text file\n", path.c_str());
    return false;
}

bool isCashBook(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string header = cashHeaderLine();
    std::string start(header.size() - 2, '\0');
    in.read(start.data(), static_cast<std::streamsize>(start.size()));
    return (in && header.starts_with(start)) || path.ends_with(".cash.csv");
}

// `cash`: every shift listed; `check` on the cash book: the count and the first damaged line.
int runCash(const std::string& path, bool list)
{
    const auto content = readText(path);
    if (!content || !checkIsText(path, *content))
        return 2;
    Output out;
    std::size_t damaged = 0;
    const auto lines = checkCashFile(*content);
    const CashFileLine* first = nullptr;
    for (const CashFileLine& line : lines) {
        if (line.check.fault) {
            ++damaged;
            first = first ? first : &line;
        }
        if (!list || line.number == 1)
            continue;
        std::string& buffer = out.buffer();
        buffer += std::to_string(line.number);
        if (line.check.fault) {
            buffer += "\tDAMAGED: " + *line.check.fault + "\t" + line.text;
        } else {
            for (const std::string& field : line.check.fields)
                buffer += "\t" + field;
        }
        buffer += '\n';
        out.flushIfFull();
    }
    std::string& buffer = out.buffer();
    buffer += path + ": " + std::to_string(lines.empty() ? 0 : lines.size() - 1) + " cash-ups, " +
              std::to_string(damaged) + " damaged lines\n";
    if (first)
        buffer += "line " + std::to_string(first->number) + ": " + *first->check.fault + "\n";
    buffer += damaged == 0 ? "intact\n" : "damaged\n";
    if (const int failed = finishOutput(out))
        return failed;
    return damaged == 0 ? 0 : 1;
}

int runAudit(const std::string& path)
{
    const auto text = readText(path);
    if (!text || !checkIsText(path, *text))
        return 2;
    const std::string_view content(*text);
    Output out;
    std::size_t damaged = 0;
    const auto lines = checkAuditFile(content);
    for (const AuditFileLine& line : lines) {
        std::string& buffer = out.buffer();
        buffer += std::to_string(line.number);
        if (line.check.fault) {
            ++damaged;
            buffer += "\tDAMAGED: " + *line.check.fault + "\t" + line.text;
        } else {
            buffer += "\tok";
            for (const std::string& field : line.check.fields)
                buffer += "\t" + field;
            if (line.number == 1)
                buffer += "\t" + line.text.substr(line.text.starts_with("\xEF\xBB\xBF") ? 3 : 0); // the header
        }
        buffer += '\n';
        out.flushIfFull();
    }
    out.buffer() += path + ": " + std::to_string(lines.size()) + " lines, " + std::to_string(damaged) + " damaged\n";
    out.buffer() += damaged == 0 ? "intact\n" : "damaged\n";
    if (const int failed = finishOutput(out))
        return failed;
    return damaged == 0 ? 0 : 1;
}

int runChain(int argc, char** argv)
{
    std::string database;
    std::optional<double> from;
    std::optional<double> to;
    bool csv = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool valued = arg == "--database" || arg == "--from" || arg == "--to";
        if (arg == "--csv") {
            csv = true;
        } else if (valued && i + 1 < argc) {
            const std::string_view value = argv[++i];
            if (arg == "--database")
                database = value;
            else if (arg == "--from")
                from = parseDate(value);
            else
                to = parseDate(value);
            if (arg != "--database" && !(arg == "--from" ? from : to)) {
                std::fprintf(stderr, "ostrel-log: %s: not a date DD.MM.YYYY\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr, "ostrel-log: chain: unexpected %s\n\n%s", argv[i], Usage);
            return 2;
        }
    }
    if (database.empty() || !from || !to) {
        std::fprintf(stderr, "ostrel-log: chain needs --database, --from and --to\n\n%s", Usage);
        return 2;
    }
    const ChainReport report = readChainReport(database, *from, *to);
    if (report.error) {
        std::fprintf(stderr, "ostrel-log: the chain's database: %s\n", report.error->c_str());
        return 2;
    }
    Output out;
    out.buffer() = csv ? report.csv() : report.text();
    return finishOutput(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string_view(argv[1]) == "chain")
        return runChain(argc, argv);
    std::string_view command;
    std::string path;
    int operands = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts("ostrel-log " OSTREL_VERSION);
            return 0;
        }
        if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            std::fprintf(stderr, "ostrel-log: unknown option %s\n\n%s", argv[i], Usage);
            return 2;
        }
        if (arg == "--")
            continue;
        if (operands == 0)
            command = arg;
        else if (operands == 1)
            path = arg;
        ++operands;
    }
    if (operands == 0 || operands > 2) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (path.empty())
        path = command == "audit"  ? std::string(AuditTrail::FileName)
               : command == "cash" ? std::string(CashBook::FileName)
                                   : "Ostrel.log";

    if (command == "dump")
        return runDump(path);
    if (command == "csv")
        return runCsv(path);
    if (command == "check")
        return isCashBook(path) ? runCash(path, false) : runCheck(path);
    if (command == "cash")
        return runCash(path, true);
    if (command == "audit")
        return runAudit(path);
    std::fprintf(stderr, "ostrel-log: unknown command %.*s\n\n%s", static_cast<int>(command.size()), command.data(),
                 Usage);
    return 2;
}
