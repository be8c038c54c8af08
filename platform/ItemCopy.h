// Copying one item (a file, a link or a whole directory tree) into a directory, for moves
// between file systems.
//
// The copy keeps regular files (their data), directories, symbolic links, mode, owner,
// group, access and modification times and extended attributes (POSIX ACLs included). The
// original is read through descriptors, never following a link and never entering another
// mount, and is never changed. Other file types (devices, FIFOs, sockets) are not copied:
// the copy fails with ENOTSUP. Thread-safe.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "base/Result.h"
#include "platform/FileStatus.h"
#include "platform/SystemError.h"
#include "platform/TreeOwnership.h"

namespace kb {

// The account a copy is handed to: every copied entry gets its owner and group, losing its
// set-id bits and file capabilities as chown(2) takes them, except a regular file that has
// more than one hard link and belongs to another account: its copy keeps the source's owner
// and mode (its other links may be a system file, whose contents must not change hands).
// The source's link count and owner decide, never the copy's.
struct CopyAccount {
    uid_t uid = 0;
    gid_t gid = 0;
    ForeignEntries foreign = ForeignEntries::keepTheirOwner;
};

struct CopyDone {
    ObjectId id;       // the copy
    ReownReport kept;  // the files whose copy kept its owner (no error is ever set here)
};

// Copies the entry `fromName` of `fromFd`, which must be the object `expected`, into `toFd`
// as the new entry `toName` (never replacing anything). A failed copy deletes its partial
// copy. Without an account, owners are kept as they are.
Result<CopyDone, SystemError> copyItem(int fromFd, const std::string& fromName, ObjectId expected,
                                       int toFd, const std::string& toName,
                                       std::optional<CopyAccount> account);

}  // namespace kb
