// statx(2) of one directory entry without following a final symbolic link, or of an open
// descriptor. Nothing is opened for the entry itself when the file system reports inode
// attributes through statx; otherwise regular files and directories are opened read-only
// (never following links, never blocking) just long enough to read them.
#pragma once

#include <cstdint>

#include "base/Result.h"
#include "platform/SystemError.h"

namespace kb {

struct StatxResult {
    std::uint64_t device = 0;  // makedev(major, minor)
    std::uint64_t inode = 0;
    std::int64_t modificationSeconds = 0;
    std::uint32_t modificationNanoseconds = 0;
    std::uint32_t ownerUID = 0;
    std::uint32_t ownerGID = 0;
    std::uint16_t mode = 0;  // file type bits included
    std::uint32_t linkCount = 0;
    std::uint64_t size = 0;
    std::uint64_t blocks = 0;  // 512-byte units
    // Inode attributes as file-flag bits (platform/InodeAttributes.h); 0 when the file
    // system keeps none or they cannot be read.
    std::uint32_t fileFlags = 0;

    bool operator==(const StatxResult&) const = default;
};

// The entry `name` relative to the directory `dirfd` (AT_FDCWD or a descriptor; an absolute
// `name` ignores it). A final symbolic link is described itself. The error's step is
// "statx" and its path is `name`.
Result<StatxResult, SystemError> statxEntry(int dirfd, const char* name);

// The file open as `fd` (an O_PATH descriptor is fine).
Result<StatxResult, SystemError> statxOpenFile(int fd);

}  // namespace kb
