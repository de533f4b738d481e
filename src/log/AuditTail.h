#pragma once

#include "log/AuditCheck.h"

#include <cstddef>
#include <string>
#include <vector>

namespace ostrel {

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

} // namespace ostrel
