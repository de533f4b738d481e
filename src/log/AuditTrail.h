#pragma once

#include "core/CurrentUser.h"
#include "log/AuditLine.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

class SessionLog;

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

    // The file up to its first line whose sync has not succeeded: what a power cut cannot take
    // back. nullopt when the file is missing.
    std::optional<std::uint64_t> durableLength() const;

private:
    struct File;
    std::shared_ptr<File> m;
    SessionLog& m_log;
};

} // namespace ostrel
