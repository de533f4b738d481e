#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

class SessionLog;

enum class AuditResult
{
    Sent,
    NoConnection,
    NotDelivered,
};

// One command the server sent, as the audit trail records it.
struct AuditEntry
{
    double at = 0;               // local date-time, a day number
    std::string station;         // computer name, Windows-1251 as the station table holds it
    std::string address;         // dotted decimal
    std::string command;         // the command in words, UTF-8
    std::string tariff;          // Windows-1251; empty for a command without one
    std::optional<double> price; // for a command with a tariff
    std::optional<int> minutes;  // for a command that carries a time
    AuditResult result = AuditResult::Sent;
};

inline constexpr std::size_t AuditFieldCount = 9;

// The file's first line: a byte order mark (so a spreadsheet does not guess a code page), the
// column titles, CRLF.
std::string auditHeaderLine();

// One line of the file: UTF-8, ";" between fields, RFC 4180 quoting, CRLF. Texts that came from
// outside (names, tariffs) are guarded against formula injection, and any CR or LF in them becomes
// a blank, so that one line is always one command: a damaged end is then found line by line.
std::string auditLine(const AuditEntry& entry, std::string_view user);

// The operating-system user running this process: its login name, $USER when it has none, its
// number as the last resort.
std::string currentUserName();

// A line of the file read back: its fields, and what is wrong with it when it is damaged.
struct AuditLineCheck
{
    std::vector<std::string> fields;
    std::optional<std::string> fault; // English, for the maintainer's tool
};

// Checks one line without its line end: well-formed RFC 4180 fields, as many as the header has, a
// readable date-time and a known result.
AuditLineCheck checkAuditLine(std::string_view line);

// Every line of a whole file checked, the header first; a last line without its line end is
// damaged (an append cut short).
struct AuditFileLine
{
    std::size_t number = 0; // from 1
    std::string text;       // without its line end
    AuditLineCheck check;
};
std::vector<AuditFileLine> checkAuditFile(std::string_view content);

// The newest lines of the file, newest first, at most `limit`, the header and a trailing fragment
// left out. Reads only the end of the file it needs.
struct AuditTail
{
    enum class Status
    {
        Read,
        Missing,
        Unreadable,
    };
    Status status = Status::Read;
    std::vector<AuditLineCheck> lines;
};
AuditTail readAuditTail(const std::string& path, std::size_t limit);

// The audit trail Ostrel.audit.csv: one line per command the server sent, only ever appended.
//
// Like a session record, a line is written at once under the trail's own lock, and the session
// log's thread makes it durable in its next sync round, one sync for both files. A last line cut
// short by a crash is cut off by the next append before it writes: completing it with a line end
// instead would keep an open quote that swallows the lines after it, and a line that never
// reached the disk whole was never durable either. A line the file does not take (a full disk, a
// link in its place) waits in memory like a session record, and is written before any newer one.
class AuditTrail
{
public:
    static constexpr std::string_view FileName = "Ostrel.audit.csv";

    // `log` syncs the trail's appends and outlives every append.
    AuditTrail(std::string path, SessionLog& log, std::string user = currentUserName());
    ~AuditTrail();
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;

    const std::string& path() const;

    // Appends the line now, on this thread; false when the file did not take it: the line then
    // waits in memory, in order, and the log's thread writes it again until it is durable.
    bool append(const AuditEntry& entry);
    // Appends the line on the log's thread: for a thread that must not do file work.
    void appendLater(AuditEntry entry);

private:
    struct File;
    std::shared_ptr<File> m;
    SessionLog& m_log;
};

} // namespace ostrel
