// Sessions and audit lines that the log file does not take (a missing folder, a link, no
// permission, a size limit, a full file system) wait in memory until it takes them, in order.

#include "log/SessionLog.h"

#include "SessionLogTestSupport.h"

#include "core/FileIo.h"
#include "log/AuditTrail.h"
#include "log/HistoryTable.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace ostrel {
namespace {

using namespace sessionlogtest;
using testing::ClosedAt;
using testing::paidAuditEntry;
using testing::readLogBytes;
using testing::readLogText;
using testing::sampleStationRow;
using testing::writeLogBytes;

// Each fault is made, two sessions are logged, the fault is mended: both end up in the file once,
// in order, and until then they wait in memory, in the history table and in what faults() says.
TEST_F(SessionLogTest, ASessionTheFileDoesNotTakeWaitsInMemoryUntilItCanBeWritten)
{
    const std::string other = m_dir.write("other-operators-file", "theirs");
    const struct
    {
        const char* name;
        std::string path;
        std::function<void(const std::string&)> make;
        std::function<void(const std::string&)> mend;
        int error;
    } cases[] = {
        {"missing folder", m_dir.file("later/Ostrel.log"), [](const std::string&) {},
         [this](const std::string&) { ::mkdir(m_dir.file("later").c_str(), 0755); }, ENOENT},
        {"symbolic link", m_dir.file("symlinked.log"),
         [&](const std::string& p) { ASSERT_EQ(::symlink(other.c_str(), p.c_str()), 0); },
         [](const std::string& p) { ::unlink(p.c_str()); }, ELOOP},
        {"hard link", m_dir.file("hardlinked.log"),
         [&](const std::string& p) { ASSERT_EQ(::link(other.c_str(), p.c_str()), 0); },
         [](const std::string& p) { ::unlink(p.c_str()); }, LinkedFileError},
        {"no permission", m_dir.file("readonly.log"),
         [](const std::string& p) {
             writeLogBytes(p, {});
             ::chmod(p.c_str(), 0444);
         },
         [](const std::string& p) { ::chmod(p.c_str(), 0664); }, EACCES},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.make(c.path);
        if (c.error == EACCES && ::access(c.path.c_str(), W_OK) == 0)
            continue; // root writes anyway
        HistoryTable history;
        SessionLog log(c.path, history, [] { return ClosedAt; });
        std::atomic<int> told{0};
        log.setFaultListener([&told] { ++told; });

        EXPECT_EQ(log.LogSession(sampleStationRow("FIRST"), "Reset"), LogResult::Pending);
        EXPECT_EQ(log.LogSession(sampleStationRow("SECOND"), "Ok"), LogResult::Pending);
        EXPECT_EQ(log.faults().sessions, (PendingWrites{2, c.error}));
        EXPECT_GE(told.load(), 1);
        ASSERT_EQ(history.rowCount(), 4); // shown as any other session
        EXPECT_EQ(history.row(1)[ColComputer], "FIRST");
        EXPECT_EQ(history.row(2)[ColComputer], "SECOND");
        EXPECT_EQ(readLogText(other), "theirs");

        // Once the log thread has tried and failed, the file is mended: a session logged before
        // the next try still waits behind the older ones.
        for (int i = 0; i < 3000 && log.syncs() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(log.syncs(), 1u);
        c.mend(c.path);
        EXPECT_EQ(log.LogSession(sampleStationRow("THIRD"), "Ok"), LogResult::Pending);
        ASSERT_TRUE(log.waitDurable());
        EXPECT_EQ(computersIn(c.path), (std::vector<std::string>{"FIRST", "SECOND", "THIRD"}));
        EXPECT_EQ(log.faults(), LogFaults{});
        EXPECT_EQ(log.LogSession(sampleStationRow("FOURTH"), "Ok"), LogResult::Appended);
        EXPECT_EQ(computersIn(c.path), (std::vector<std::string>{"FIRST", "SECOND", "THIRD", "FOURTH"}));
    }
    EXPECT_EQ(readLogText(other), "theirs");
}

// A write that the file takes in part (its size limit reached midway) is cut back to the last
// whole record, and the record waits until the file takes it whole.
TEST_F(SessionLogTest, APartialWriteIsCutBackAndTheRecordWaits)
{
    constexpr std::size_t Before = 3;
    SessionLog log = makeLog(m_path);
    for (std::size_t i = 0; i < Before; ++i)
        ASSERT_EQ(log.LogSession(sampleStationRow("PC-" + std::to_string(i)), "Ok"), LogResult::Appended);
    ASSERT_TRUE(log.waitDurable());

    // The log thread is held in a job meanwhile, so that its retry cannot come before the checks.
    std::mutex lock;
    std::condition_variable changed;
    bool held = false;
    bool release = false;
    log.post([&] {
        std::unique_lock hold(lock);
        held = true;
        changed.notify_all();
        changed.wait_for(hold, std::chrono::seconds(30), [&] { return release; });
    });
    {
        std::unique_lock hold(lock);
        ASSERT_TRUE(changed.wait_for(hold, std::chrono::seconds(30), [&] { return held; }));
    }
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = Before * SessionLogRecordSize + 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const LogResult cut = log.LogSession(sampleStationRow("CUT"), "Ok");
    const auto lengthThen = readLogBytes(m_path).size();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(cut, LogResult::Pending);
    EXPECT_EQ(lengthThen, Before * SessionLogRecordSize);
    EXPECT_EQ(log.faults().sessions, (PendingWrites{1, EFBIG}));
    {
        std::scoped_lock hold(lock);
        release = true;
        changed.notify_all();
    }
    ASSERT_TRUE(log.waitDurable());
    EXPECT_EQ(computersIn(m_path), (std::vector<std::string>{"PC-0", "PC-1", "PC-2", "CUT"}));
}

// A real file system that fills up (a small tmpfs in a mount namespace of this test's own): the
// sessions and the audit lines wait, and once room is made every one is in its file once, in order.
TEST_F(SessionLogTest, AFullFileSystemLosesNoSessionAndNoAuditLine)
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0)
        GTEST_SKIP() << "a file system of its own needs root and a mount namespace";
    ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    const std::string root = m_dir.file("small");
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mount("ostrel-test", root.c_str(), "tmpfs", 0, "size=256k"), 0);
    const std::string filler = root + "/filler";
    {
        const UniqueFd fd(::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        ASSERT_TRUE(fd);
        const std::vector<std::uint8_t> block(4096, 0xAA);
        off_t at = 0;
        for (int i = 0; i < 1000 && writeAllAt(fd.get(), block.data(), block.size(), at); ++i)
            at += static_cast<off_t>(block.size());
        ASSERT_EQ(errno, ENOSPC);
    }
    const std::string logPath = root + "/Ostrel.log";
    const std::string auditPath = root + "/Ostrel.audit.csv";
    {
        HistoryTable history;
        SessionLog log(logPath, history, [] { return ClosedAt; });
        AuditTrail trail(auditPath, log, "op");
        for (const char* name : {"A", "B", "C"})
            EXPECT_EQ(log.LogSession(sampleStationRow(name), "Reset"), LogResult::Pending);
        EXPECT_FALSE(trail.append(paidAuditEntry("PC-01")));
        EXPECT_FALSE(trail.append(paidAuditEntry("PC-02")));
        EXPECT_EQ(log.faults(), (LogFaults{{3, ENOSPC}, {2, ENOSPC}}));

        ASSERT_EQ(::unlink(filler.c_str()), 0);
        ASSERT_TRUE(log.waitDurable());
        EXPECT_EQ(computersIn(logPath), (std::vector<std::string>{"A", "B", "C"}));
        EXPECT_EQ(readLogText(auditPath), auditHeaderLine() + auditLine(paidAuditEntry("PC-01"), "op") +
                                              auditLine(paidAuditEntry("PC-02"), "op"));
        EXPECT_EQ(log.faults(), LogFaults{});
    }
    ::umount2(root.c_str(), MNT_DETACH);
}

// Past MaxPending waiting records the log says that no command should start another session.
TEST_F(SessionLogTest, SoManyWaitingRecordsRefuseCommands)
{
    SessionLog log = makeLog(m_dir.file("missing/Ostrel.log"));
    for (std::size_t i = 0; i + 1 < SessionLog::MaxPending; ++i)
        ASSERT_EQ(log.LogSession(sampleStationRow(), "Ok"), LogResult::Pending);
    EXPECT_FALSE(log.refusesCommands());
    ASSERT_EQ(log.LogSession(sampleStationRow(), "Ok"), LogResult::Pending);
    EXPECT_TRUE(log.refusesCommands());
    EXPECT_EQ(log.faults().sessions.count, SessionLog::MaxPending);
}

} // namespace
} // namespace ostrel
