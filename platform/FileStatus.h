// The status of one directory entry, read with statx relative to a directory descriptor.
// A final symbolic link is never followed: the status is the link's own. Thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "base/Result.h"
#include "platform/SystemError.h"

namespace kb {

// What names one file system object: the device and inode pair.
struct ObjectId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const ObjectId&) const = default;
};

struct FileStatus {
    std::uint64_t device = 0;  // makedev(major, minor), as st_dev
    std::uint64_t inode = 0;
    std::int64_t modificationTime = 0;  // seconds
    std::uint32_t ownerUID = 0;
    std::uint32_t groupID = 0;
    std::uint16_t mode = 0;  // file type bits included
    std::uint32_t linkCount = 0;
    std::uint64_t mountID = 0;
    // The inode attributes (STATX_ATTR_IMMUTABLE, STATX_ATTR_APPEND, ...), as statx gives them.
    std::uint64_t attributes = 0;
    bool mountRoot = false;  // the entry is the root of a mount

    bool isDirectory() const;
    bool isSymlink() const;
    bool isRegular() const;
    ObjectId id() const { return {device, inode}; }

    bool operator==(const FileStatus&) const = default;
};

// Whether `child`, an entry of the directory `parentFd`, is the root of another mount.
bool isMountPoint(int parentFd, const FileStatus& child);

// statx(dirFd, name, AT_SYMLINK_NOFOLLOW). `name` must not be empty.
Result<FileStatus, SystemError> fileStatusAt(int dirFd, const std::string& name);

// statx of the object an open descriptor refers to (AT_EMPTY_PATH).
Result<FileStatus, SystemError> fileStatusOf(int fd);

}  // namespace kb
