#pragma once

#include "core/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace ostrel {

// open(2), retried when a signal interrupts it; -1 on failure with errno set.
int openRetrying(const char* path, int flags, mode_t mode = 0);

// Appends the whole file at `path` to `text`; false when it cannot be opened or a read fails,
// errno then saying why. Bytes read before a failing read stay in `text`.
bool readWholeFile(const std::string& path, std::string& text);

// Writes every byte at `offset`; false when the file takes fewer.
bool writeAllAt(int fd, const std::uint8_t* data, std::size_t size, off_t offset);

// Reads exactly `size` bytes at `offset`; false when the file ends first or a read fails.
bool readAllAt(int fd, char* data, std::size_t size, off_t offset);

// Where the whole lines of a text file of `size` bytes end: after its last '\n' (0 when it has
// none); nullopt when a read fails. What lies past it is an append cut short.
std::optional<off_t> wholeLinesEnd(int fd, off_t size);

// A newly created file survives a crash only once its directory entry is on disk too. Best effort:
// the file's own bytes are synced apart.
void syncParentDirectory(const std::string& path);

// fdatasync(2), retried when a signal interrupts it.
bool dataSync(int fd);

// The size of the file at `path`; nullopt when there is none.
std::optional<std::uint64_t> fileSize(const std::string& path);

// How much of an appended file is durable: the file at `path` up to the first of `unsynced`, what
// was written to it but not yet synced (each with its offset `at`). nullopt when there is no file.
template <class Written>
std::optional<std::uint64_t> durableLength(const std::string& path, const std::vector<Written>& unsynced)
{
    std::optional<std::uint64_t> length = fileSize(path);
    for (const Written& w : unsynced) {
        if (length)
            length = std::min(*length, static_cast<std::uint64_t>(w.at));
    }
    return length;
}

// Cuts a file back to `length` after an append to it failed, so that its readers meet no fragment.
// Best effort: should this fail too, the next append cuts off what is left, so its result is of no
// use to the caller. errno stays as the failed append left it.
void cutBackAfterFailedAppend(int fd, off_t length);

// errno of a file of the shared folder that is a second hard link to another file: it is not
// written through, as a symbolic link is not (ELOOP).
inline constexpr int LinkedFileError = EMLINK;

// Opens one of the files the operators of a salon share (the log, the audit trail, the stations
// file) for reading and writing, never through a link: a symbolic link in its place fails with
// ELOOP and a file with a second hard link with LinkedFileError, so that nobody who can write into
// the folder makes another operator's server write into a file of theirs. A missing file is
// created with group write whatever the umask, so that every operator of the group can append.
// -1 with errno set on failure.
int openSharedFile(const std::string& path);

// A descriptor held in reserve, for a process that may run out of them (a flood of connections): an
// open that finds none left is tried again once with the reserve given up, which is taken again
// later. Not thread-safe: its owner's lock guards it.
class SpareDescriptor
{
public:
    SpareDescriptor();
    // Runs `open`; when it fails for want of a descriptor, gives the reserve up and runs it again.
    int open(const std::function<int()>& open);
    // Takes the reserve again if it was given up and a descriptor is free.
    void retake();
    bool held() const { return static_cast<bool>(m_fd); }

private:
    UniqueFd m_fd;
};

// Writes `text` over the whole shared file at `path` in place, cut to its length, and syncs it (and,
// when the file was new, its folder): 0 when it is durable, else the errno of the step that failed.
// In place, because in the salon's sticky shared folder no operator may rename over a file another
// made; a crash in the middle leaves the file damaged, which its reader must tolerate.
int rewriteSharedFile(const std::string& path, std::string_view text, SpareDescriptor& spare);

} // namespace ostrel
