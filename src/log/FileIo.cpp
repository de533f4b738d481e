#include "log/FileIo.h"

#include "core/UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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

} // namespace ostrel
