#include "log/SessionLog.h"

#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/HistoryTable.h"
#include "log/SessionLogObserver.h"
#include "log/SessionLogRecord.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

class FileHandle
{
public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

int openRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool writeAllAt(int fd, const std::uint8_t* data, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

int openSpare()
{
    return openRetrying("/dev/null", O_RDONLY | O_CLOEXEC);
}

// A newly created file survives a crash only once its directory entry is on disk too.
void syncParentDirectory(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = openRetrying(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return; // best effort: the record itself is already synced
    ::fsync(fd);
    ::close(fd);
}

std::optional<SessionLogRecord> recordOfRow(const StationRow& row, std::string_view comment, double closedAt)
{
    const auto price = parseMoney(row[ColPrice]);
    const auto sum = parseMoney(row[ColSum]);
    const auto start = parseTime(row[ColStart]);
    const auto duration = parseTime(row[ColElapsed]);
    const auto finish = parseTime(row[ColFinish]);
    if (!price || !sum || !start || !duration || !finish)
        return std::nullopt;

    SessionLogRecord record;
    record.closedAt = closedAt;
    record.comment = std::string(comment);
    record.price = *price;
    record.sum = *sum;
    record.start = *start;
    record.duration = *duration;
    record.finish = *finish;
    record.computer = row[ColComputer];
    record.address = row[ColAddress];
    record.status = row[ColStatus];
    return record;
}

} // namespace

SessionLog::SessionLog(std::string path, HistoryTable& history, Clock clock)
    : m_path(std::move(path)), m_history(history), m_clock(clock ? std::move(clock) : Clock(nowDayNumber)),
      m_spareFd(openSpare())
{}

SessionLog::~SessionLog()
{
    if (m_spareFd >= 0)
        ::close(m_spareFd);
}

LogResult SessionLog::LogSession(const StationRow& row, std::string_view comment)
{
    std::lock_guard hold(m_fileLock);
    SessionLogRecord written;
    std::uint64_t offset = 0;
    const LogResult result = append(row, comment, written, offset);
    if (result == LogResult::Appended) {
        for (SessionLogObserver* observer : m_observers)
            observer->sessionLogged(written, offset);
    }
    // The log file is closed again by now; its descriptor becomes the reserve if that was used.
    if (m_spareFd < 0)
        m_spareFd = openSpare();
    return result;
}

int SessionLog::openLogFile()
{
    const int fd = openRetrying(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || m_spareFd < 0)
        return fd;
    ::close(m_spareFd);
    m_spareFd = -1;
    return openRetrying(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
}

void SessionLog::addObserver(SessionLogObserver& observer)
{
    std::lock_guard hold(m_fileLock);
    m_observers.push_back(&observer);
}

void SessionLog::removeObserver(SessionLogObserver& observer)
{
    std::lock_guard hold(m_fileLock);
    std::erase(m_observers, &observer);
}

LogResult SessionLog::append(const StationRow& row, std::string_view comment, SessionLogRecord& written,
                             std::uint64_t& offset)
{
    const FileHandle file(openLogFile());
    if (file.fd() < 0)
        return LogResult::OpenFailed;
    struct stat st
    {
    };
    if (::fstat(file.fd(), &st) != 0)
        return LogResult::OpenFailed;

    // After the last whole record: a fragment left by an interrupted append is overwritten, and
    // whole records are never touched.
    const off_t length = st.st_size;
    const off_t at = length / static_cast<off_t>(SessionLogRecordSize) * static_cast<off_t>(SessionLogRecordSize);

    const auto record = recordOfRow(row, comment, m_clock());
    if (!record)
        return LogResult::BadCell;
    const LogRecordBytes bytes = encodeLogRecord(*record);

    m_history.fillSpare(row, comment);

    if (!writeAllAt(file.fd(), bytes.data(), bytes.size(), at) || (m_sync && ::fsync(file.fd()) != 0)) {
        // A failed append should leave the file as it found it, so that readers do not meet a
        // fragment; if even this fails, the next append overwrites whatever is left.
        if (::ftruncate(file.fd(), length) == 0 && m_sync)
            ::fsync(file.fd());
        return LogResult::WriteFailed;
    }
    if (length == 0 && m_sync)
        syncParentDirectory(m_path);

    m_history.grow();
    written = *record;
    offset = static_cast<std::uint64_t>(at);
    return LogResult::Appended;
}

std::optional<std::uint64_t> SessionLog::stableLength() const
{
    std::lock_guard hold(m_fileLock);
    struct stat st
    {
    };
    if (::stat(m_path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

} // namespace ostrel
