// The private directories through which items travel into a Trash.
//
// Each item gets a fresh staging subdirectory inside the Trash it goes to, so that it never
// leaves the Trash's file system: a directory named ".dev.kestrelbay.staging-" followed by
// a random UUID, created with mkdirat on the Trash's descriptor, owned by root with mode
// 0700. Nobody else can enter it, so an item inside cannot be swapped or read while it is
// checked and re-owned. The directory is opened with O_NOFOLLOW | O_DIRECTORY and used only
// if that descriptor shows a root-owned, mode 0700, empty directory (the account owns the
// Trash and could put something else under the name in between). Thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "base/Result.h"
#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb {

// Every staging subdirectory's name starts with this.
inline constexpr std::string_view stagingPrefix = ".dev.kestrelbay.staging-";

bool isStagingName(std::string_view name);

struct StagingSubdirectory {
    UniqueFd fd;       // O_RDONLY | O_DIRECTORY descriptor of the subdirectory
    std::string name;  // its name in the Trash
    ObjectId id;
};

// Creates and checks a fresh staging subdirectory in the Trash `trashFd`, or the errno of
// the failure (EPERM when what was opened is not the directory just made).
Result<StagingSubdirectory, int> makeStagingSubdirectory(int trashFd);

// Whether the open directory `fd` is a root-owned directory with mode exactly 0700.
bool isRootPrivateDirectory(int fd);

// Removes the staging subdirectory if it is empty; false when something is still inside.
// (The name is removed only while it still names the subdirectory made.)
bool removeStagingSubdirectory(int trashFd, const StagingSubdirectory& sub);

}  // namespace kb
