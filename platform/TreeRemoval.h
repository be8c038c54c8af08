// Deleting a directory tree through descriptors (the safe form of "rm -r").
//
// The walk never follows a symbolic link (links are unlinked as links), never leaves the
// tree (a directory swapped for a link after it was listed is unlinked, not entered) and
// never descends into another mount: a mount point inside the tree is neither entered nor
// emptied, and its removal then fails with the kernel's errno (EBUSY), which stops the walk.
// An entry that vanishes during the walk is ignored. The first other failure stops the walk
// and leaves everything not yet removed in place. A tree with two or more subdirectories at
// its top is removed by two threads, each taking the next top-level entry and walking it on
// its own (a failure in one stops the other at its next entry). Thread-safe.
#pragma once

#include <string>

#include "base/Result.h"
#include "platform/DirectoryWalk.h"
#include "platform/FileStatus.h"

namespace kb {

// Removes the directory `name` of `parentFd` and everything below it. The directory opened
// must be the object `expected` names; otherwise the walk stops with `directoryChanged`
// before anything is removed; so does a `name` that is not a directory (any more).
Result<void, WalkError> removeTree(int parentFd, const std::string& name, ObjectId expected);

}  // namespace kb
