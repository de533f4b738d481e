#include "log/SessionLog.h"

#include "core/DateTime.h"
#include "core/FileIo.h"
#include "core/Texts.h"
#include "log/HistoryTable.h"
#include "log/SessionLogObserver.h"
#include "log/SessionLogRecord.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ostrel {

namespace {

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
    : m_path(std::move(path)), m_history(history), m_clock(clock ? std::move(clock) : Clock(nowDayNumber))
{
    struct stat st
    {
    };
    if (::stat(m_path.c_str(), &st) == 0 && st.st_size > 0)
        m_end = static_cast<std::uint64_t>(st.st_size) / SessionLogRecordSize * SessionLogRecordSize;
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

void SessionLog::setFaultListener(std::function<void()> listener)
{
    std::scoped_lock hold(m_fileLock);
    m_faultListener = std::move(listener);
}

LogResult SessionLog::LogSession(const StationRow& row, std::string_view comment)
{
    const auto record = recordOfRow(row, comment, m_clock());
    if (!record)
        return LogResult::BadCell;
    const LogRecordBytes bytes = encodeLogRecord(*record);

    std::unique_lock hold(m_fileLock);
    m_history.fillSpare(row, comment);
    m_history.grow();
    const std::uint64_t sequence = ++m_written;
    std::uint64_t offset = m_end;
    LogResult result = LogResult::Appended;
    // Behind a record that waits, a newer one waits too: the file keeps the order of the sessions.
    if (!m_waiting.empty() || !writeRecord(sequence, bytes, offset)) {
        offset = m_end; // where it will lie once what waits before it is written
        m_end += SessionLogRecordSize;
        m_waiting.push_back({sequence, bytes});
        result = LogResult::Pending;
    }
    for (SessionLogObserver* observer : m_observers)
        observer->sessionLogged(*record, offset);
    // Unless the log thread still holds the file for its sync, the reserve is taken again now.
    m_spare.retake();
    hold.unlock();
    m_syncWanted.notify_one();
    if (result == LogResult::Pending)
        tellFaults();
    return result;
}

std::shared_ptr<SessionLog::OpenFile> SessionLog::openLogFile()
{
    // The file the last append used, while its sync is pending, if it is still the one at the path.
    struct stat st
    {
    };
    if (m_file && ::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_file->device && st.st_ino == m_file->inode)
        return m_file;

    const int fd = m_spare.open([this] { return openSharedFile(m_path); });
    if (fd < 0)
        return nullptr;
    std::shared_ptr<OpenFile> file;
    try {
        file = std::make_shared<OpenFile>(fd);
    } catch (...) {
        ::close(fd);
        errno = ENOMEM;
        return nullptr;
    }
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

bool SessionLog::writeRecord(std::uint64_t sequence, const LogRecordBytes& bytes, std::uint64_t& offset)
{
    const std::shared_ptr<OpenFile> file = openLogFile();
    if (!file) {
        failed(errno);
        return false;
    }
    struct stat st
    {
    };
    if (::fstat(file->fd.get(), &st) != 0) {
        failed(errno);
        return false;
    }
    // After the last whole record: a fragment left by an interrupted append is overwritten, and
    // whole records are never touched.
    const off_t length = st.st_size;
    const off_t at = length / static_cast<off_t>(SessionLogRecordSize) * static_cast<off_t>(SessionLogRecordSize);
    if (!writeAllAt(file->fd.get(), bytes.data(), bytes.size(), at)) {
        const int error = errno == 0 ? EIO : errno;
        // A failed append leaves the file as it found it; if even this fails, the next append
        // overwrites whatever is left.
        cutBackAfterFailedAppend(file->fd.get(), length);
        failed(error);
        return false;
    }
    if (length == 0)
        m_directoryUnsynced = true;
    m_file = file;
    m_unsynced.push_back({sequence, file, at, bytes});
    offset = static_cast<std::uint64_t>(at);
    m_end = std::max(m_end, offset + SessionLogRecordSize);
    return true;
}

void SessionLog::writeAgain()
{
    if (m_writeAgain) {
        for (const Unsynced& u : m_unsynced) {
            if (!writeAllAt(u.file->fd.get(), u.bytes.data(), u.bytes.size(), u.at)) {
                failed(errno == 0 ? EIO : errno);
                return;
            }
        }
        m_writeAgain = false;
    }
    while (!m_waiting.empty()) {
        std::uint64_t offset = 0;
        if (!writeRecord(m_waiting.front().sequence, m_waiting.front().bytes, offset))
            return;
        m_waiting.pop_front();
    }
}

void SessionLog::failed(int error)
{
    m_error = error;
    if (std::find(m_toldErrors.begin(), m_toldErrors.end(), error) != m_toldErrors.end())
        return;
    m_toldErrors.push_back(error);
    const char* why = error == ELOOP || error == LinkedFileError
                          ? "a link stands in its place; nothing is written through it"
                          : std::strerror(error);
    std::fprintf(stderr,
                 "ostrel-server: %s cannot be written (%s); the sessions wait in memory and are written again\n",
                 m_path.c_str(), why);
    std::fflush(stderr);
}

LogFaults SessionLog::faults() const
{
    std::scoped_lock hold(m_fileLock);
    LogFaults faults;
    if (m_retrying || !m_waiting.empty()) {
        // What waits, and what the file holds but a failed sync did not make durable.
        faults.sessions.count = m_waiting.size() + (m_writeAgain ? m_unsynced.size() : 0);
        faults.sessions.error = faults.sessions.count > 0 ? m_error : 0;
    }
    for (const auto& companion : m_companions) {
        const PendingWrites p = companion->pending();
        faults.lines.count += p.count;
        if (p.count > 0)
            faults.lines.error = p.error;
    }
    return faults;
}

bool SessionLog::refusesCommands() const
{
    const LogFaults f = faults();
    return f.sessions.count + f.lines.count >= MaxPending;
}

void SessionLog::tellFaults()
{
    std::function<void()> listener;
    {
        std::scoped_lock hold(m_fileLock);
        listener = m_faultListener;
    }
    if (listener)
        listener();
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
    tellFaults();
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
    ::pthread_setname_np(::pthread_self(), "log"); // for the soak's CPU per thread
    std::unique_lock hold(m_fileLock);
    auto retryAt = std::chrono::steady_clock::now();
    bool lastTry = false; // stopping with something not durable: one more round, then give up
    for (;;) {
        const auto due = [&] {
            if (m_stopping || !m_jobs.empty())
                return true;
            // While retrying, a new append waits behind the old ones for the next try.
            return m_retrying ? std::chrono::steady_clock::now() >= retryAt : m_durable < m_written;
        };
        if (m_retrying)
            m_syncWanted.wait_until(hold, retryAt, due);
        else
            m_syncWanted.wait(hold, due);
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
        if (m_retrying && !m_stopping && std::chrono::steady_clock::now() < retryAt)
            continue;
        if (m_durable == m_written && !m_retrying)
            return; // stopping, and nothing left to sync
        if (m_stopping && lastTry) {
            const std::size_t lost = m_waiting.size() + (m_writeAgain ? m_unsynced.size() : 0);
            if (lost > 0)
                std::fprintf(stderr, "ostrel-server: %zu sessions could not be written to %s before the stop\n", lost,
                             m_path.c_str());
            std::fflush(stderr);
            return;
        }
        lastTry = m_stopping;

        const bool wasFaulty = m_retrying;
        writeAgain();
        // Every append up to here rides on this one sync; those that come while it runs, on the next.
        const std::uint64_t target = m_written;
        std::shared_ptr<OpenFile> file = m_file;
        const bool directory = std::exchange(m_directoryUnsynced, false);
        const bool sync = m_sync;
        const auto syncCall = m_syncForTest;
        const bool written = m_waiting.empty() && !m_writeAgain;
        const auto companions = m_companions;
        hold.unlock();

        bool synced = true;
        int syncError = 0;
        if (sync && file && !(syncCall ? syncCall(file->fd.get()) : dataSync(file->fd.get()))) {
            synced = false;
            syncError = errno;
        }
        if (sync && directory)
            syncParentDirectory(m_path);
        bool companionsDurable = true;
        std::size_t companionsPending = 0;
        for (const auto& companion : companions) {
            if (!companion->syncAppends())
                companionsDurable = false;
            companionsPending += companion->pending().count;
        }

        hold.lock();
        ++m_syncs;
        if (!synced) {
            ++m_failedSyncs;
            m_writeAgain = !m_unsynced.empty(); // the page cache may have dropped them: write them again
            failed(syncError);
        }
        if (written && synced && companionsDurable) {
            m_durable = target;
            std::erase_if(m_unsynced, [target](const Unsynced& u) { return u.sequence <= target; });
            m_retrying = false;
            m_toldErrors.clear();
            m_error = 0;
        } else {
            m_retrying = true;
            retryAt = std::chrono::steady_clock::now() + RetryInterval;
        }
        const bool changed = wasFaulty || m_retrying || companionsPending != m_companionsPending;
        m_companionsPending = companionsPending;
        // Nothing appended since: the file is closed until the next append, and its descriptor
        // becomes the reserve again if that was used.
        if (!m_retrying && m_written == target && m_file == file) {
            m_file.reset();
            m_unsynced.clear();
            file.reset();
            m_spare.retake();
        }
        file.reset();
        m_synced.notify_all();
        if (changed) {
            if (wasFaulty && !m_retrying) {
                std::fprintf(stderr, "ostrel-server: %s is written again; nothing waits\n", m_path.c_str());
                std::fflush(stderr);
            }
            hold.unlock();
            tellFaults();
            hold.lock();
        }
    }
}

bool SessionLog::waitDurable(std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    std::unique_lock hold(m_fileLock);
    // What posted jobs append counts as appended before this call.
    if (!m_synced.wait_until(hold, until, [this] { return m_jobs.empty() && !m_jobsRunning; }))
        return false;
    const std::uint64_t target = m_written;
    return m_synced.wait_until(hold, until, [this, target] { return m_durable >= target; });
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

std::uint64_t SessionLog::durableAppends() const
{
    std::scoped_lock hold(m_fileLock);
    return m_durable;
}

void SessionLog::setSyncForTest(std::function<bool(int fd)> sync)
{
    std::scoped_lock hold(m_fileLock);
    m_syncForTest = std::move(sync);
}

std::optional<std::uint64_t> SessionLog::stableLength() const
{
    std::lock_guard hold(m_fileLock);
    return fileSize(m_path);
}

std::optional<std::uint64_t> SessionLog::durableLength() const
{
    std::lock_guard hold(m_fileLock);
    return ostrel::durableLength(m_path, m_unsynced);
}

} // namespace ostrel
