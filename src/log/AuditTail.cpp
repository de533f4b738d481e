#include "log/AuditTail.h"

#include "core/FileIo.h"
#include "core/Texts.h"
#include "core/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace ostrel {

namespace {

constexpr off_t ScanChunk = 64 * 1024;
// The window's tail is read backwards until enough lines are found; a file of damaged giant lines
// must not make it read without end.
constexpr std::size_t MaxTailBytes = 16 * 1024 * 1024;

} // namespace

AuditTail readAuditTail(const std::string& path, std::size_t limit)
{
    AuditTail tail;
    const UniqueFd fd(openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        tail.status = errno == ENOENT ? AuditTail::Status::Missing : AuditTail::Status::Unreadable;
        return tail;
    }
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0) {
        tail.status = AuditTail::Status::Unreadable;
        return tail;
    }
    // Backwards, a chunk at a time, until the line end before the oldest wanted line is in.
    std::string data;
    off_t from = st.st_size;
    while (from > 0 && data.size() < MaxTailBytes &&
           static_cast<std::size_t>(std::ranges::count(data, '\n')) <= limit) {
        const off_t start = std::max<off_t>(0, from - ScanChunk);
        std::string chunk(static_cast<std::size_t>(from - start), '\0');
        if (!readAllAt(fd.get(), chunk.data(), chunk.size(), start)) {
            tail.status = AuditTail::Status::Unreadable;
            return tail;
        }
        data.insert(0, chunk);
        from = start;
    }
    // A fragment at the end is the next append's to cut off; the first piece is either the header
    // or the end of a line that was not read whole.
    data.erase(data.rfind('\n') == std::string::npos ? 0 : data.rfind('\n') + 1);
    std::vector<std::string_view> lines;
    std::string_view rest(data);
    while (!rest.empty())
        lines.push_back(takeLine(rest));
    if (!lines.empty())
        lines.erase(lines.begin());
    for (auto it = lines.rbegin(); it != lines.rend() && tail.lines.size() < limit; ++it)
        tail.lines.push_back(checkAuditLine(*it));
    return tail;
}

} // namespace ostrel
