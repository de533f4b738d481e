#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

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

// A newly created file survives a crash only once its directory entry is on disk too. Best effort:
// the file's own bytes are synced apart.
void syncParentDirectory(const std::string& path);

// fdatasync(2), retried when a signal interrupts it.
bool dataSync(int fd);

} // namespace ostrel
