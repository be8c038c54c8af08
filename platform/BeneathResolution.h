// Opening paths without following any symbolic link on the way, through openat2(2) with
// RESOLVE_NO_SYMLINKS. This is how a checked path is turned into a descriptor before the
// root operations act on it: a component that is (or has just become) a symbolic link makes
// the open fail with ELOOP instead of leading somewhere else. Thread-safe.
#pragma once

#include <string>

#include "base/Result.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb {

// openat2(dirFd, path, flags | O_CLOEXEC, RESOLVE_NO_SYMLINKS). An absolute `path` ignores
// dirFd. Fails with ELOOP when any component, the last included, is a symbolic link.
Result<UniqueFd, SystemError> openNoSymlinks(int dirFd, const std::string& path, int flags);

// The directory holding an item and the item's name in it.
struct ParentDirectory {
    UniqueFd fd;       // O_PATH descriptor of the directory, usable as the dirfd of *at calls
    std::string name;  // last component; never empty, ".", ".." or containing "/"
};

// Opens the parent of an absolute, normalized path (as the path policy resolves it) with no
// symbolic link anywhere on the way; the last component itself is not opened. ELOOP means a
// component of the parent is a symbolic link (for a path the policy resolved a moment ago,
// a sign of a swap); EINVAL means the path has no last component ("/", relative, "..").
Result<ParentDirectory, SystemError> openParentDirectory(const std::string& absolutePath);

}  // namespace kb
