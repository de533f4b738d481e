#include "log/AuditTrail.h"

#include "core/FileIo.h"
#include "core/UniqueFd.h"
#include "log/SessionLog.h"

#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ostrel {

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
            cutBackAfterFailedAppend(file->get(), *end);
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

std::optional<std::uint64_t> AuditTrail::durableLength() const
{
    std::scoped_lock hold(m->lock);
    return ostrel::durableLength(m->path, m->unsynced);
}

} // namespace ostrel
