#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace ostrel::fuzz {

// A log file that lives in memory (memfd) for the whole fuzzing run and is rewritten for every
// input: the readers under test open it by path, through /proc/self/fd, as they open Ostrel.log.
class MemoryLogFile
{
public:
    MemoryLogFile()
    {
        m_fd = ::memfd_create("ostrel-fuzz-log", MFD_CLOEXEC);
        if (m_fd < 0)
            std::abort();
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    ~MemoryLogFile() { ::close(m_fd); }
    MemoryLogFile(const MemoryLogFile&) = delete;
    MemoryLogFile& operator=(const MemoryLogFile&) = delete;

    const std::string& path() const { return m_path; }

    void write(const std::uint8_t* data, std::size_t size)
    {
        if (::ftruncate(m_fd, 0) != 0)
            std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0)
                std::abort();
            done += static_cast<std::size_t>(n);
        }
    }

private:
    int m_fd = -1;
    std::string m_path;
};

// Ends the run as a crash, naming the line of the failed check.
inline void check(bool condition, int line = __builtin_LINE(), const char* file = __builtin_FILE())
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s:%d\n", file, line);
        std::abort();
    }
}

} // namespace ostrel::fuzz
