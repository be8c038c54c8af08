#include "platform/FileStatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/InodeAttributes.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

constexpr unsigned wantedFields = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_GID |
                                  STATX_MTIME | STATX_ATIME | STATX_INO | STATX_SIZE |
                                  STATX_BLOCKS | STATX_MNT_ID;

constexpr std::uint64_t flagAttributes =
    STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND | STATX_ATTR_NODUMP;

std::uint32_t fileFlagsFromStatx(std::uint64_t attributes) {
    std::uint32_t flags = 0;
    if ((attributes & STATX_ATTR_IMMUTABLE) != 0) {
        flags |= fileFlagImmutable;
    }
    if ((attributes & STATX_ATTR_APPEND) != 0) {
        flags |= fileFlagAppendOnly;
    }
    if ((attributes & STATX_ATTR_NODUMP) != 0) {
        flags |= fileFlagNoDump;
    }
    return flags;
}

FileStatus fromStatx(const struct statx& s) {
    FileStatus status;
    status.device = makedev(s.stx_dev_major, s.stx_dev_minor);
    status.inode = s.stx_ino;
    status.modificationTime = s.stx_mtime.tv_sec;
    status.modificationNanoseconds = s.stx_mtime.tv_nsec;
    status.accessTime = s.stx_atime.tv_sec;
    status.accessNanoseconds = s.stx_atime.tv_nsec;
    status.ownerUID = s.stx_uid;
    status.groupID = s.stx_gid;
    status.mode = s.stx_mode;
    status.linkCount = s.stx_nlink;
    status.size = s.stx_size;
    status.blocks = (s.stx_mask & STATX_BLOCKS) ? s.stx_blocks : 0;
    status.mountID = (s.stx_mask & STATX_MNT_ID) ? s.stx_mnt_id : 0;
    status.attributes = s.stx_attributes & s.stx_attributes_mask;
    status.fileFlags = fileFlagsFromStatx(status.attributes);
    status.fileFlagsReported = (s.stx_attributes_mask & flagAttributes) == flagAttributes;
    status.mountRoot = (s.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                       (s.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return status;
}

Result<FileStatus, SystemError> statxCall(int dirFd, const char* name, int flags,
                                          const char* shownPath) {
    struct statx s {};
    if (::statx(dirFd, name, flags | AT_NO_AUTOMOUNT | AT_STATX_SYNC_AS_STAT, wantedFields, &s) !=
        0) {
        return fail(systemError("statx", shownPath));
    }
    return fromStatx(s);
}

}  // namespace

bool FileStatus::isDirectory() const {
    return S_ISDIR(mode);
}
bool FileStatus::isSymlink() const {
    return S_ISLNK(mode);
}
bool FileStatus::isRegular() const {
    return S_ISREG(mode);
}

Result<FileStatus, SystemError> fileStatusAt(int dirFd, const char* name, FinalLink link) {
    return statxCall(dirFd, name, link == FinalLink::follow ? 0 : AT_SYMLINK_NOFOLLOW, name);
}

Result<FileStatus, SystemError> fileStatusAt(int dirFd, const std::string& name, FinalLink link) {
    return fileStatusAt(dirFd, name.c_str(), link);
}

Result<FileStatus, SystemError> fileStatusOf(int fd) {
    return statxCall(fd, "", AT_EMPTY_PATH, "");
}

bool isDirectoryAt(int dirFd, const std::string& name, FinalLink link) {
    auto status = fileStatusAt(dirFd, name, link);
    return status && status->isDirectory();
}

FileStatus withFileFlagsAt(int dirFd, const char* name, FileStatus status) {
    if (status.fileFlagsReported || (!status.isRegular() && !status.isDirectory())) {
        return status;
    }
    UniqueFd fd(::openat(dirFd, name,
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                             (status.isDirectory() ? O_DIRECTORY : 0)));
    if (!fd) {
        return status;
    }
    auto again = fileStatusOf(fd.get());
    if (!again || again->id() != status.id()) {
        return status;
    }
    return withFileFlagsOf(fd.get(), status);
}

FileStatus withFileFlagsOf(int fd, FileStatus status) {
    if (!status.fileFlagsReported) {
        auto flags = readFileFlags(fd);
        status.fileFlags = flags ? *flags : 0;
    }
    return status;
}

bool isMountPoint(int parentFd, const FileStatus& child) {
    if (child.mountRoot) {
        return true;
    }
    auto parent = fileStatusOf(parentFd);
    return parent && (parent->device != child.device || parent->mountID != child.mountID);
}

}  // namespace kb
