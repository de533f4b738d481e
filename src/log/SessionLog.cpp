#include "log/SessionLog.h"

#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/FileIo.h"
#include "log/HistoryTable.h"
#include "log/SessionLogObserver.h"
#include "log/SessionLogRecord.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ostrel {

namespace {

int openSpare()
{
    return openRetrying("/dev/null", O_RDONLY | O_CLOEXEC);
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

struct SessionLog::OpenFile
{
    explicit OpenFile(int descriptor) : fd(descriptor) {}

    const UniqueFd fd;
    dev_t device = 0;
    ino_t inode = 0;
};

SessionLog::SessionLog(std::string path, HistoryTable& history, Clock clock)
    : m_path(std::move(path)), m_history(history), m_clock(clock ? std::move(clock) : Clock(nowDayNumber)),
      m_spare(openSpare())
{
    m_syncThread = std::thread([this] { syncLoop(); });
}

SessionLog::~SessionLog()
{
    {
        std::scoped_lock hold(m_fileLock);
        m_stopping = true;
    }
    m_syncWanted.notify_all();
    m_syncThread.join();
}

void SessionLog::skipSyncForBenchmark()
{
    std::scoped_lock hold(m_fileLock);
    m_sync = false;
}

LogResult SessionLog::LogSession(const StationRow& row, std::string_view comment)
{
    std::unique_lock hold(m_fileLock);
    const auto written = m_written;
    SessionLogRecord record;
    std::uint64_t offset = 0;
    const LogResult result = append(row, comment, record, offset);
    if (result == LogResult::Appended) {
        for (SessionLogObserver* observer : m_observers)
            observer->sessionLogged(record, offset);
    }
    // Unless the log thread still holds the file for its sync, the reserve is taken again now.
    if (!m_spare)
        m_spare.reset(openSpare());
    const bool wake = m_written != written;
    hold.unlock();
    if (wake)
        m_syncWanted.notify_one();
    return result;
}

std::shared_ptr<SessionLog::OpenFile> SessionLog::openLogFile()
{
    // The file the last append used, while its sync is pending, if it is still the one at the path.
    struct stat st
    {
    };
    if (m_file && ::stat(m_path.c_str(), &st) == 0 && st.st_dev == m_file->device && st.st_ino == m_file->inode)
        return m_file;

    int fd = openRetrying(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) && m_spare) {
        m_spare.reset();
        fd = openRetrying(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0)
        return nullptr;
    auto file = std::make_shared<OpenFile>(fd);
    if (::fstat(fd, &st) != 0)
        return nullptr;
    file->device = st.st_dev;
    file->inode = st.st_ino;
    return file;
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
    std::shared_ptr<OpenFile> file;
    try {
        file = openLogFile();
    } catch (...) {
        return LogResult::OpenFailed; // no memory for the handle: the descriptor went with it
    }
    if (!file)
        return LogResult::OpenFailed;
    struct stat st
    {
    };
    if (::fstat(file->fd.get(), &st) != 0)
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

    // From here the file has changed, or may have: the log thread syncs it either way.
    m_file = file;
    ++m_written;
    if (!writeAllAt(file->fd.get(), bytes.data(), bytes.size(), at)) {
        // A failed append should leave the file as it found it, so that readers do not meet a
        // fragment; if even this fails, the next append overwrites whatever is left.
        (void)::ftruncate(file->fd.get(), length);
        return LogResult::WriteFailed;
    }
    if (length == 0)
        m_directoryUnsynced = true;

    m_history.grow();
    written = *record;
    offset = static_cast<std::uint64_t>(at);
    return LogResult::Appended;
}

void SessionLog::addCompanion(std::shared_ptr<SessionLogCompanion> companion)
{
    std::scoped_lock hold(m_fileLock);
    m_companions.push_back(std::move(companion));
}

void SessionLog::companionAppended()
{
    {
        std::scoped_lock hold(m_fileLock);
        ++m_written;
    }
    m_syncWanted.notify_one();
}

void SessionLog::post(std::function<void()> job)
{
    {
        std::scoped_lock hold(m_fileLock);
        m_jobs.push_back(std::move(job));
    }
    m_syncWanted.notify_one();
}

void SessionLog::syncLoop()
{
    std::unique_lock hold(m_fileLock);
    for (;;) {
        m_syncWanted.wait(hold, [this] { return m_stopping || m_durable < m_written || !m_jobs.empty(); });
        if (!m_jobs.empty()) {
            // A job may append to a companion, which takes this lock to say so.
            auto jobs = std::exchange(m_jobs, {});
            m_jobsRunning = true;
            hold.unlock();
            for (auto& job : jobs)
                job();
            jobs.clear();
            hold.lock();
            m_jobsRunning = false;
            m_synced.notify_all();
            continue;
        }
        if (m_durable == m_written)
            return; // stopping, and nothing left to sync
        // Every append up to here rides on this one sync; those that come while it runs, on the next.
        const std::uint64_t target = m_written;
        std::shared_ptr<OpenFile> file = m_file;
        const bool directory = std::exchange(m_directoryUnsynced, false);
        const bool sync = m_sync;
        const auto companions = m_companions;
        hold.unlock();

        bool ok = true;
        if (sync && file)
            ok = dataSync(file->fd.get());
        if (sync && directory)
            syncParentDirectory(m_path);
        for (const auto& companion : companions) {
            if (sync && !companion->syncAppends())
                ok = false;
        }

        hold.lock();
        m_durable = target;
        ++m_syncs;
        if (!ok)
            ++m_failedSyncs;
        // Nothing appended since: the file is closed until the next append, and its descriptor
        // becomes the reserve again if that was used.
        if (m_written == target && m_file == file) {
            m_file.reset();
            file.reset();
            if (!m_spare)
                m_spare.reset(openSpare());
        }
        file.reset();
        m_synced.notify_all();
    }
}

void SessionLog::waitDurable()
{
    std::unique_lock hold(m_fileLock);
    // What posted jobs append counts as appended before this call.
    m_synced.wait(hold, [this] { return m_jobs.empty() && !m_jobsRunning; });
    const std::uint64_t target = m_written;
    m_synced.wait(hold, [this, target] { return m_durable >= target; });
}

std::uint64_t SessionLog::syncs() const
{
    std::scoped_lock hold(m_fileLock);
    return m_syncs;
}

std::uint64_t SessionLog::failedSyncs() const
{
    std::scoped_lock hold(m_fileLock);
    return m_failedSyncs;
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
