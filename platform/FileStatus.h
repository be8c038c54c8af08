// The status of one file system object, read with statx(2) relative to a directory
// descriptor or on an open descriptor. Every read passes AT_NO_AUTOMOUNT (looking at an
// automount point never mounts anything) and, unless the caller asks otherwise, does not
// follow a final symbolic link: the status is then the link's own. Thread-safe.
#pragma once

#include <fcntl.h>  // AT_FDCWD, for callers reading a path

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
    std::uint32_t modificationNanoseconds = 0;
    std::int64_t accessTime = 0;  // seconds
    std::uint32_t accessNanoseconds = 0;
    std::uint32_t ownerUID = 0;
    std::uint32_t groupID = 0;
    std::uint16_t mode = 0;  // file type bits included
    std::uint32_t linkCount = 0;
    std::uint64_t size = 0;
    std::uint64_t blocks = 0;  // allocated, in 512-byte units; 0 when not reported
    std::uint64_t mountID = 0;
    // The inode attributes (STATX_ATTR_IMMUTABLE, STATX_ATTR_APPEND, ...) the file system
    // reports through statx, as statx gives them.
    std::uint64_t attributes = 0;
    // The immutable, append-only and no-dump attributes as file-flag bits
    // (platform/InodeAttributes.h), from `attributes`; complete only when
    // fileFlagsReported, otherwise see withFileFlags.
    std::uint32_t fileFlags = 0;
    bool fileFlagsReported = false;
    bool mountRoot = false;  // the object is the root of a mount

    bool isDirectory() const;
    bool isSymlink() const;
    bool isRegular() const;
    ObjectId id() const { return {device, inode}; }

    bool operator==(const FileStatus&) const = default;
};

// Whether a final symbolic link is described itself (the default) or followed.
enum class FinalLink { describe, follow };

// statx(dirFd, name) with AT_NO_AUTOMOUNT; AT_FDCWD and an absolute or relative `name`
// read a path. `name` must not be empty. The error's step is "statx", its path `name`.
Result<FileStatus, SystemError> fileStatusAt(int dirFd, const char* name,
                                             FinalLink link = FinalLink::describe);
Result<FileStatus, SystemError> fileStatusAt(int dirFd, const std::string& name,
                                             FinalLink link = FinalLink::describe);

// statx of the object an open descriptor refers to (AT_EMPTY_PATH; O_PATH is fine).
Result<FileStatus, SystemError> fileStatusOf(int fd);

// Whether the entry `name` of `dirFd` exists and is a directory.
bool isDirectoryAt(int dirFd, const std::string& name, FinalLink link = FinalLink::describe);

// For file systems whose statx does not report the inode attributes: fills fileFlags
// through the ioctl on a descriptor checked to be the same object. The entry `name` of
// `dirFd` is opened read-only (never following a link, never blocking) only when it is a
// regular file or a directory: devices, FIFOs and sockets are never opened (opening them can
// have side effects) and keep 0. Flags that cannot be read stay 0.
FileStatus withFileFlagsAt(int dirFd, const char* name, FileStatus status);
// The same for the object open as `fd` (not O_PATH: the ioctl needs a real descriptor).
FileStatus withFileFlagsOf(int fd, FileStatus status);

// Whether `child`, an entry of the directory `parentFd`, is the root of another mount.
bool isMountPoint(int parentFd, const FileStatus& child);

}  // namespace kb
