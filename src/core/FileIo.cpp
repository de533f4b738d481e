#include "core/FileIo.h"

#include "core/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

int openRetrying(const char* path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool readWholeFile(const std::string& path, std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file)
        return false;
    char buffer[16 * 1024];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    const bool read = !std::ferror(file);
    const int error = errno;
    std::fclose(file);
    errno = error;
    return read;
}

namespace {

// Repeats pread or pwrite until every byte is done; false when the file ends or a call fails.
template <typename Byte, typename Call> bool wholeAt(Call call, int fd, Byte* data, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = call(fd, data, size, offset);
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

} // namespace

bool writeAllAt(int fd, const std::uint8_t* data, std::size_t size, off_t offset)
{
    return wholeAt(::pwrite, fd, data, size, offset);
}

bool readAllAt(int fd, char* data, std::size_t size, off_t offset)
{
    return wholeAt(::pread, fd, data, size, offset);
}

void syncParentDirectory(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const UniqueFd directory(openRetrying(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory)
        ::fsync(directory.get());
}

bool dataSync(int fd)
{
    int rc;
    do {
        rc = ::fdatasync(fd);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void cutBackAfterFailedAppend(int fd, off_t length)
{
    const int appendError = errno;
    while (::ftruncate(fd, length) != 0 && errno == EINTR) {
    }
    errno = appendError;
}

int openSharedFile(const std::string& path)
{
    constexpr int Flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC;
    int fd = openRetrying(path.c_str(), Flags);
    bool created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = openRetrying(path.c_str(), Flags | O_CREAT | O_EXCL, 0664);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) // made meanwhile by another server: open what is there
            fd = openRetrying(path.c_str(), Flags);
    }
    if (fd < 0)
        return -1;
    UniqueFd file(fd);
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    if (st.st_nlink > 1) {
        errno = LinkedFileError;
        return -1;
    }
    // The umask may have taken the group's write away; the file is ours, so we may give it back.
    if (created && (st.st_mode & 0020) == 0)
        (void)::fchmod(fd, (st.st_mode & 07777) | 0060);
    return file.release();
}

std::optional<std::uint64_t> fileSize(const std::string& path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

namespace {

int openReserve()
{
    return openRetrying("/dev/null", O_RDONLY | O_CLOEXEC);
}

} // namespace

SpareDescriptor::SpareDescriptor() : m_fd(openReserve()) {}

int SpareDescriptor::open(const std::function<int()>& open)
{
    int fd = open();
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) && m_fd) {
        m_fd.reset();
        fd = open();
    }
    return fd;
}

void SpareDescriptor::retake()
{
    if (!m_fd)
        m_fd.reset(openReserve());
}

std::optional<off_t> wholeLinesEnd(int fd, off_t size)
{
    constexpr off_t ScanChunk = 64 * 1024;
    std::string chunk;
    off_t end = size;
    while (end > 0) {
        const off_t from = std::max<off_t>(0, end - ScanChunk);
        chunk.resize(static_cast<std::size_t>(end - from));
        if (!readAllAt(fd, chunk.data(), chunk.size(), from))
            return std::nullopt;
        const auto newline = chunk.rfind('\n');
        if (newline != std::string::npos)
            return from + static_cast<off_t>(newline) + 1;
        end = from;
    }
    return 0;
}

int rewriteSharedFile(const std::string& path, std::string_view text, SpareDescriptor& spare)
{
    UniqueFd fd(spare.open([&path] { return openSharedFile(path); }));
    struct stat st
    {
    };
    const bool ok = fd && ::fstat(fd.get(), &st) == 0 &&
                    writeAllAt(fd.get(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), 0) &&
                    ::ftruncate(fd.get(), static_cast<off_t>(text.size())) == 0 && dataSync(fd.get());
    const int error = ok ? 0 : errno == 0 ? EIO : errno;
    fd.reset();
    spare.retake();
    if (ok && st.st_size == 0)
        syncParentDirectory(path); // a new file is durable only once the folder is
    return error;
}

} // namespace ostrel
