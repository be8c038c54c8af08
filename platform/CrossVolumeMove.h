// Moving an item to another file system when rename(2) answers EXDEV: copy, then rename the
// copy into place, then delete the original. The copy and the deletion are also offered
// apart, for callers that place the copy themselves.
//
// The copy keeps regular files (their data), directories, symbolic links, mode, owner,
// group, access and modification times and extended attributes (POSIX ACLs included). It
// is written under a temporary name beside the destination and renamed into place with
// RENAME_NOREPLACE, trying the caller's names in order, so an existing entry is never
// replaced. The original is read through descriptors, never following a link and never
// entering another mount; it is deleted with the safe tree removal only after the copy is
// in place. A failed copy deletes its partial copy and leaves the original untouched.
// Other file types (devices, FIFOs, sockets) are not copied: the move fails with ENOTSUP.
// Thread-safe.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "HelperProtocol/Result.h"
#include "platform/FileStatus.h"
#include "platform/SystemError.h"
#include "platform/TreeOwnership.h"

namespace kb {

// The destination names to try, in order: the name for an index, or nothing past the last.
using DestinationNames = std::function<std::optional<std::string>(std::size_t index)>;

struct MoveFailure {
    enum class Kind {
        noFreeName,  // every destination name was taken; nothing changed
        failed,      // copying (or placing the copy) failed; nothing changed
    };
    Kind kind = Kind::failed;
    SystemError error;

    // A plain sentence naming what failed, with strerror's text.
    std::string message() const;
};

struct MoveDone {
    std::string name;  // the destination name used
    ObjectId id;       // the object now at the destination
    // Set when the copy is in place but the original could not be deleted (wholly or in
    // part): nothing is lost, the item exists twice.
    std::optional<SystemError> originalLeft;
};

// The account a copy is handed to: every copied entry gets its owner and group, losing its
// set-id bits and file capabilities as chown(2) takes them, except a regular file that has
// more than one hard link and belongs to another account: its copy keeps the source's owner
// and mode (its other links may be a system file, whose contents must not change hands).
// The source's link count and owner decide, never the copy's.
struct CopyAccount {
    uid_t uid = 0;
    gid_t gid = 0;
};

struct CopyDone {
    ObjectId id;       // the copy
    ReownReport kept;  // the files whose copy kept its owner (no error is ever set here)
};

// Copies the entry `fromName` of `fromFd`, which must be the object `expected`, into `toFd`
// as the new entry `toName` (never replacing anything). The original is not touched. A
// failed copy deletes its partial copy. Without an account, owners are kept as they are.
Result<CopyDone, SystemError> copyItem(int fromFd, const std::string& fromName, ObjectId expected,
                                       int toFd, const std::string& toName,
                                       std::optional<CopyAccount> account);

// Deletes the original of a finished copy (a tree with the safe tree removal); the entry
// must still be the object `expected`. An entry already gone is not an error.
Result<void, SystemError> removeOriginal(int fromFd, const std::string& name, ObjectId expected);

// Moves the entry `fromName` of `fromFd`, which must be the object `expected`, into `toFd`
// under the first free name of `names`, by copying.
Result<MoveDone, MoveFailure> moveAcrossVolumes(int fromFd, const std::string& fromName,
                                                ObjectId expected, int toFd,
                                                const DestinationNames& names);

}  // namespace kb
