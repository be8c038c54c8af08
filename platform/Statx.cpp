#include "platform/Statx.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/InodeAttributes.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

constexpr unsigned wantedFields = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_UID | STATX_GID |
                                  STATX_INO | STATX_SIZE | STATX_BLOCKS | STATX_MTIME;

constexpr std::uint64_t attributeBits =
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

StatxResult fromStatx(const struct statx& s) {
    StatxResult status;
    status.device = makedev(s.stx_dev_major, s.stx_dev_minor);
    status.inode = s.stx_ino;
    status.modificationSeconds = s.stx_mtime.tv_sec;
    status.modificationNanoseconds = s.stx_mtime.tv_nsec;
    status.ownerUID = s.stx_uid;
    status.ownerGID = s.stx_gid;
    status.mode = s.stx_mode;
    status.linkCount = s.stx_nlink;
    status.size = s.stx_size;
    status.blocks = s.stx_blocks;
    status.fileFlags = fileFlagsFromStatx(s.stx_attributes);
    return status;
}

// For file systems whose statx does not report the attributes: read them through the
// ioctl on a descriptor that is checked to be the same inode. Devices, FIFOs and sockets
// are never opened (opening them can have side effects); their flags stay 0.
std::uint32_t fileFlagsByIoctl(int dirfd, const char* name, const StatxResult& status) {
    const unsigned type = status.mode & S_IFMT;
    if (type != S_IFREG && type != S_IFDIR) {
        return 0;
    }
    UniqueFd fd(::openat(dirfd, name,
                         O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                             (type == S_IFDIR ? O_DIRECTORY : 0)));
    if (!fd) {
        return 0;
    }
    struct statx again {};
    if (::statx(fd.get(), "", AT_EMPTY_PATH, STATX_INO, &again) != 0 ||
        again.stx_ino != status.inode ||
        makedev(again.stx_dev_major, again.stx_dev_minor) != status.device) {
        return 0;
    }
    auto flags = readFileFlags(fd.get());
    return flags ? *flags : 0;
}

}  // namespace

Result<StatxResult, SystemError> statxEntry(int dirfd, const char* name) {
    struct statx s {};
    if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, wantedFields, &s) != 0) {
        return fail(systemError("statx", name));
    }
    StatxResult status = fromStatx(s);
    if ((s.stx_attributes_mask & attributeBits) != attributeBits) {
        status.fileFlags = fileFlagsByIoctl(dirfd, name, status);
    }
    return status;
}

Result<StatxResult, SystemError> statxOpenFile(int fd) {
    struct statx s {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT, wantedFields, &s) != 0) {
        return fail(systemError("statx"));
    }
    StatxResult status = fromStatx(s);
    if ((s.stx_attributes_mask & attributeBits) != attributeBits) {
        auto flags = readFileFlags(fd);
        status.fileFlags = flags ? *flags : 0;
    }
    return status;
}

}  // namespace kb
