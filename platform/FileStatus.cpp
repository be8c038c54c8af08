#include "platform/FileStatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace kb {
namespace {

constexpr unsigned wantedFields = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_GID |
                                  STATX_MTIME | STATX_INO | STATX_MNT_ID;

FileStatus fromStatx(const struct statx& s) {
    FileStatus status;
    status.device = makedev(s.stx_dev_major, s.stx_dev_minor);
    status.inode = s.stx_ino;
    status.modificationTime = s.stx_mtime.tv_sec;
    status.ownerUID = s.stx_uid;
    status.groupID = s.stx_gid;
    status.mode = s.stx_mode;
    status.linkCount = s.stx_nlink;
    status.mountID = (s.stx_mask & STATX_MNT_ID) ? s.stx_mnt_id : 0;
    status.attributes = s.stx_attributes & s.stx_attributes_mask;
    status.mountRoot = (s.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                       (s.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return status;
}

Result<FileStatus, SystemError> statxCall(int dirFd, const char* name, int flags,
                                          const std::string& shownPath) {
    struct statx s {};
    if (::statx(dirFd, name, flags | AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, wantedFields,
                &s) != 0) {
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

bool isMountPoint(int parentFd, const FileStatus& child) {
    if (child.mountRoot) {
        return true;
    }
    auto parent = fileStatusOf(parentFd);
    return parent && (parent->device != child.device || parent->mountID != child.mountID);
}

Result<FileStatus, SystemError> fileStatusAt(int dirFd, const std::string& name) {
    return statxCall(dirFd, name.c_str(), 0, name);
}

Result<FileStatus, SystemError> fileStatusOf(int fd) {
    return statxCall(fd, "", AT_EMPTY_PATH, {});
}

}  // namespace kb
