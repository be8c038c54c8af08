// Reading directories relative to their descriptors, for walks that must never follow a
// symbolic link and must not pay a path lookup per entry.
//
// openDirectory / openDirectoryAt open a directory for reading with O_NOFOLLOW: a symbolic
// link in the last component is refused (ELOOP or ENOTDIR), never followed, so a name that
// was swapped for a link between listing and opening cannot lead the walk elsewhere.
// DirectoryReader lists an open directory in large batches (getdents64), reusing one buffer
// for every directory it reads.
//
// Threads: every function is safe to call from any thread; a DirectoryReader belongs to one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Result.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb {

enum class EntryType : std::uint8_t { unknown, regular, directory, symbolicLink, other };

struct DirectoryEntry {
    const char* name;  // valid until the reader's next call
    EntryType type;    // as the file system reports it while listing; may be unknown
    std::uint64_t inode;
};

class DirectoryReader {
  public:
    DirectoryReader();

    // Starts listing `directoryFd` (borrowed; it must stay open while listing).
    void start(int directoryFd);

    // The next entry, "." and ".." left out; nothing at the end of the directory or when a
    // read fails (failed() then tells which).
    std::optional<DirectoryEntry> next();

    bool failed() const { return failed_; }

  private:
    bool fill();

    std::unique_ptr<std::byte[]> buffer_;
    int fd_ = -1;
    std::size_t used_ = 0;
    std::size_t offset_ = 0;
    bool atEnd_ = true;
    bool failed_ = false;
};

// Opens `path` as a directory; the last component must not be a symbolic link.
Result<UniqueFd, SystemError> openDirectory(const std::string& path);

// Opens the entry `name` of `parentFd` as a directory, never following a symbolic link.
Result<UniqueFd, SystemError> openDirectoryAt(int parentFd, const char* name);

}  // namespace kb
