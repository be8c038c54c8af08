// Inode attributes (the chattr flags read and written with FS_IOC_GETFLAGS and
// FS_IOC_SETFLAGS), expressed as the portable file-flag bits that StatIdentity::flags
// carries:
//   immutable   -> fileFlagImmutable  (0x00020000)
//   append-only -> fileFlagAppendOnly (0x00040000)
//   no-dump     -> fileFlagNoDump     (0x00000001)
// Other attributes are not reported and are kept unchanged by the write functions.
//
// Every function works on an open descriptor (not an O_PATH one: the kernel refuses the
// ioctl there), so the caller checks the file's identity on that descriptor first.
// Changing the immutable or append-only attribute needs CAP_LINUX_IMMUTABLE.
#pragma once

#include <cstdint>

#include "base/Result.h"
#include "platform/SystemError.h"

namespace kb {

inline constexpr std::uint32_t fileFlagNoDump = 0x00000001;
inline constexpr std::uint32_t fileFlagImmutable = 0x00020000;
inline constexpr std::uint32_t fileFlagAppendOnly = 0x00040000;
// The bits that inode attributes can express.
inline constexpr std::uint32_t inodeAttributeFileFlags =
    fileFlagNoDump | fileFlagImmutable | fileFlagAppendOnly;

// The mapped file-flag bits of the open file `fd`. Fails with ENOTTY or EOPNOTSUPP on file
// systems without inode attributes.
Result<std::uint32_t, SystemError> readFileFlags(int fd);

// Sets the three mapped attributes of `fd` to exactly the corresponding bits of `flags`
// (bits outside inodeAttributeFileFlags are ignored); other attributes stay as they are.
Result<void, SystemError> setFileFlags(int fd, std::uint32_t flags);

// Clears the mapped attributes named by `flags`; others stay. Does not write when nothing
// would change.
Result<void, SystemError> clearFileFlags(int fd, std::uint32_t flags);

// The file-flag bits of a raw attribute word (FS_*_FL bits).
std::uint32_t fileFlagsFromInodeAttributes(std::uint32_t attributes);

}  // namespace kb
