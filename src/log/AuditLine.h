#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

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
    bool automatic = false; // given by the server itself, not by the operator
};

inline constexpr std::size_t AuditFieldCount = 9;

// The file's first line: a byte order mark (so a spreadsheet does not guess a code page), the
// column titles, CRLF.
std::string auditHeaderLine();
inline constexpr std::string_view AuditLineEnd = "\r\n";

// One line of the file, the operator's `user` or, for an automatic command, the server's own word:
// UTF-8, ";" between fields, RFC 4180 quoting, CRLF. Texts that came from
// outside (names, tariffs) are guarded against formula injection, and any CR or LF in them becomes
// a blank, so that one line is always one command: a damaged end is then found line by line.
std::string auditLine(const AuditEntry& entry, std::string_view user);

} // namespace ostrel
