#pragma once

#include "core/FileIo.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// One shift handed over: what the log said it took and what the operator counted.
struct CashUp
{
    double at = 0;   // the moment of the hand-over, whole seconds; the next shift starts here
    double from = 0; // the shift: sessions closed in from <= ClosedAt < until
    double until = 0;
    std::uint64_t sessions = 0;
    std::int64_t computed = 0; // kopecks, by the work report's rules
    std::int64_t counted = 0;  // kopecks
    std::string comment;       // UTF-8
    std::string user;          // the operator's login; read back from the file, or written by the book
    std::int64_t difference() const { return counted - computed; }
};

inline constexpr std::size_t CashFieldCount = 9;

// The file's first line: a byte order mark, the column titles, CRLF.
std::string cashHeaderLine();

// One line of the file, as the audit trail writes its lines: UTF-8, ";" between fields, RFC 4180
// quoting, CRLF; the operator's comment and login are guarded against formula injection and kept
// on one line.
std::string cashLine(const CashUp& cashUp, std::string_view user);

// A line read back: the cash-up, or what is wrong with the line.
struct CashLineCheck
{
    std::vector<std::string> fields;
    std::optional<CashUp> cashUp;
    std::optional<std::string> fault; // English, for the maintainer's tool
};
CashLineCheck checkCashLine(std::string_view line);

// Every line of a whole file, the header first; a last line without its line end is damaged.
struct CashFileLine
{
    std::size_t number = 0; // from 1
    std::string text;
    CashLineCheck check;
};
std::vector<CashFileLine> checkCashFile(std::string_view content);

// The cash-ups of the file in file order, the damaged lines skipped and counted.
struct CashBookRead
{
    enum class Status
    {
        Read,
        Missing,
        Unreadable,
    };
    Status status = Status::Read;
    int error = 0;
    std::vector<CashUp> cashUps;
    std::optional<std::size_t> firstDamaged; // its line number, from 1
    std::size_t damaged = 0;
    // The moment the current shift starts at: the newest whole cash-up's; nullopt when none.
    std::optional<double> lastAt() const;
};
CashBookRead readCashBook(const std::string& path);
CashBookRead readCashBookText(std::string_view content);

// Ostrel.cash.csv beside the log: one line per shift handed over, only ever appended. An append is
// on disk (fdatasync) when it returns true; a failed one leaves the file as it was. A line cut short
// by a crash is cut off by the next append, as the audit trail does. Appends of the servers of
// several operators are kept apart by a lock on the file.
class CashBook
{
public:
    static constexpr std::string_view FileName = "Ostrel.cash.csv";

    explicit CashBook(std::string path, std::string user);
    CashBook(const CashBook&) = delete;
    CashBook& operator=(const CashBook&) = delete;

    const std::string& path() const { return m_path; }
    const std::string& user() const { return m_user; }

    // Any thread; takes long (a sync). 0 when the line is durable, else the errno of the failure.
    int append(const CashUp& cashUp);

private:
    const std::string m_path;
    const std::string m_user;
    std::mutex m_lock;
    SpareDescriptor m_spare; // under m_lock
};

} // namespace ostrel
