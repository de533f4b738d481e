#include "log/AuditTrail.h"

#include "core/Cp1251.h"
#include "core/CsvField.h"
#include "core/DateTime.h"
#include "core/FileIo.h"
#include "core/Texts.h"
#include "core/UniqueFd.h"
#include "log/SessionLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ostrel {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view LineEnd = "\r\n";
constexpr off_t ScanChunk = 64 * 1024;
// The window's tail is read backwards until enough lines are found; a file of damaged giant lines
// must not make it read without end.
constexpr std::size_t MaxTailBytes = 16 * 1024 * 1024;

std::string oneLine(std::string text)
{
    std::ranges::replace(text, '\r', ' ');
    std::ranges::replace(text, '\n', ' ');
    return text;
}

std::string outsideText(std::string_view cp1251)
{
    return csvTextField(oneLine(cp1251ToUtf8(cp1251)));
}

std::string_view resultWords(AuditResult result)
{
    switch (result) {
    case AuditResult::Sent:
        return audit::Sent;
    case AuditResult::NoConnection:
        return audit::NoConnection;
    case AuditResult::NotDelivered:
        return audit::NotDelivered;
    }
    return {};
}

} // namespace

std::string auditHeaderLine()
{
    return std::string(ByteOrderMark) + std::string(audit::Header) + std::string(LineEnd);
}

std::string auditLine(const AuditEntry& entry, std::string_view user)
{
    std::string line = formatDateAndTime(entry.at).value_or(std::string());
    const auto add = [&line](const std::string& field) {
        line += ';';
        line += field;
    };
    add(csvTextField(oneLine(std::string(user))));
    add(outsideText(entry.station));
    add(outsideText(entry.address));
    add(csvField(oneLine(entry.command)));
    add(outsideText(entry.tariff));
    add(entry.price ? formatMoney(*entry.price).value_or("") : "");
    add(entry.minutes ? std::to_string(*entry.minutes) : "");
    add(std::string(resultWords(entry.result)));
    line += LineEnd;
    return line;
}

std::string currentUserName()
{
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return found->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return std::to_string(::geteuid());
}

AuditLineCheck checkAuditLine(std::string_view line)
{
    AuditLineCheck check;
    check.fields = splitCsvLine(line, check.fault);
    if (check.fault)
        return check;
    if (!isValidUtf8(line))
        check.fault = "not UTF-8";
    else if (check.fields.size() != AuditFieldCount)
        check.fault = std::to_string(check.fields.size()) + " fields, " + std::to_string(AuditFieldCount) + " expected";
    else if (!parseDateAndTime(check.fields[0]))
        check.fault = "the date-time cannot be read";
    else if (const auto& r = check.fields.back();
             r != audit::Sent && r != audit::NoConnection && r != audit::NotDelivered)
        check.fault = "the result is none of the known words";
    return check;
}

std::vector<AuditFileLine> checkAuditFile(std::string_view content)
{
    const std::string header = auditHeaderLine();
    return checkCsvFileLines<AuditFileLine>(content, std::string_view(header).substr(0, header.size() - LineEnd.size()),
                                            [](std::string_view line) { return checkAuditLine(line); });
}

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

struct AuditTrail::File : SessionLogCompanion
{
    File(std::string p, std::string u) : path(std::move(p)), user(std::move(u)) {}

    // The descriptor of the file at the path, opened again when the file there was replaced; never
    // through a link in its place.
    std::shared_ptr<const UniqueFd> current()
    {
        struct stat st
        {
        };
        if (fd && ::lstat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode)
            return fd;
        UniqueFd opened(spare.open([this] { return openSharedFile(path); }));
        if (!opened || ::fstat(opened.get(), &st) != 0)
            return nullptr;
        device = st.st_dev;
        inode = st.st_ino;
        fd = std::make_shared<const UniqueFd>(std::move(opened));
        return fd;
    }

    // Under `lock`: the line now, or, behind a line that waits or when the file does not take it,
    // kept waiting in memory. True when it is in the file.
    bool add(std::string line)
    {
        if (waiting.empty() && write(line))
            return true;
        waiting.push_back(std::move(line));
        return false;
    }

    // Under `lock`: one line after the last whole one; false with `error` set.
    bool write(const std::string& line)
    {
        const auto file = current();
        struct stat st
        {
        };
        if (!file || ::fstat(file->get(), &st) != 0)
            return fail(errno);
        const auto end = wholeLinesEnd(file->get(), st.st_size);
        if (!end)
            return fail(errno);
        if (*end < st.st_size && ::ftruncate(file->get(), *end) != 0)
            return fail(errno);
        const std::string bytes = *end == 0 ? auditHeaderLine() + line : line;
        if (!writeAllAt(file->get(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), *end)) {
            const int why = errno;
            // Leave no fragment for readers; if this fails too, the next append cuts it off.
            (void)::ftruncate(file->get(), *end);
            return fail(why);
        }
        if (*end == 0)
            directoryUnsynced = true;
        unsynced.push_back({file, *end, bytes});
        spare.retake();
        return true;
    }

    bool fail(int why)
    {
        error = why == 0 ? EIO : why;
        return false;
    }

    // Under `lock`: after a failed sync the lines since the last good one again, then what waits.
    void writeAgain()
    {
        if (rewrite) {
            for (const auto& u : unsynced) {
                if (!writeAllAt(u.file->get(), reinterpret_cast<const std::uint8_t*>(u.bytes.data()), u.bytes.size(),
                                u.at)) {
                    fail(errno);
                    return;
                }
            }
            rewrite = false;
        }
        while (!waiting.empty() && write(waiting.front()))
            waiting.pop_front();
    }

    bool syncAppends() override
    {
        std::shared_ptr<const UniqueFd> file;
        bool directory = false;
        std::size_t covered = 0;
        {
            std::scoped_lock hold(lock);
            writeAgain();
            if (unsynced.empty()) {
                fd.reset();
                return waiting.empty() && !rewrite;
            }
            covered = unsynced.size();
            file = fd;
            directory = std::exchange(directoryUnsynced, false);
        }
        const bool ok = file && dataSync(file->get());
        const int why = errno;
        if (directory)
            syncParentDirectory(path);
        std::scoped_lock hold(lock);
        if (ok) {
            unsynced.erase(unsynced.begin(), unsynced.begin() + static_cast<std::ptrdiff_t>(covered));
        } else {
            rewrite = true; // the page cache may have dropped them: from memory again next round
            fail(why);
        }
        // Nothing appended meanwhile: the file is closed until the next command, as the log's
        // is, so an idle server holds no descriptor for it.
        if (unsynced.empty() && fd == file)
            fd.reset();
        return ok && waiting.empty() && !rewrite;
    }

    PendingWrites pending() const override
    {
        std::scoped_lock hold(lock);
        const std::size_t count = waiting.size() + (rewrite ? unsynced.size() : 0);
        return {count, count > 0 ? error : 0};
    }

    struct Unsynced
    {
        std::shared_ptr<const UniqueFd> file;
        off_t at = 0;
        std::string bytes;
    };

    const std::string path;
    const std::string user;
    mutable std::mutex lock;
    std::shared_ptr<const UniqueFd> fd; // under lock
    dev_t device = 0;
    ino_t inode = 0;
    bool directoryUnsynced = false;
    std::vector<Unsynced> unsynced;  // in the file, not yet synced, under lock
    std::deque<std::string> waiting; // not in the file yet, oldest first, under lock
    bool rewrite = false;            // a sync failed: `unsynced` goes to the file again, under lock
    int error = 0;                   // the latest failure's errno, under lock
    SpareDescriptor spare;           // under lock
};

AuditTrail::AuditTrail(std::string path, SessionLog& log, std::string user)
    : m(std::make_shared<File>(std::move(path), std::move(user))), m_log(log)
{
    m_log.addCompanion(m);
}

AuditTrail::~AuditTrail() = default;

const std::string& AuditTrail::path() const
{
    return m->path;
}

bool AuditTrail::append(const AuditEntry& entry)
{
    std::string line = auditLine(entry, m->user);
    bool written = false;
    {
        std::scoped_lock hold(m->lock);
        written = m->add(std::move(line));
    }
    m_log.companionAppended(); // written or waiting, the log's next round takes it on
    return written;
}

void AuditTrail::appendLater(AuditEntry entry)
{
    m_log.post([file = m, &log = m_log, entry = std::move(entry)] {
        std::string line = auditLine(entry, file->user);
        {
            std::scoped_lock hold(file->lock);
            file->add(std::move(line));
        }
        log.companionAppended();
    });
}

} // namespace ostrel
