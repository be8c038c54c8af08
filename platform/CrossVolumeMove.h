// Moving an item to another file system when rename(2) answers EXDEV: copy (ItemCopy.h),
// then rename the copy into place, then delete the original. The deletion is also offered
// apart, for callers that place a copy themselves.
//
// The copy is written under a temporary name beside the destination and renamed into place
// with RENAME_NOREPLACE, trying the caller's names in order, so an existing entry is never
// replaced. The original is deleted with the safe tree removal only after the copy is in
// place. A failed copy deletes its partial copy and leaves the original untouched.
// Thread-safe.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "base/Result.h"
#include "platform/FileStatus.h"
#include "platform/ItemCopy.h"
#include "platform/SystemError.h"

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

// Deletes the original of a finished copy (a tree with the safe tree removal); the entry
// must still be the object `expected`. An entry already gone is not an error.
Result<void, SystemError> removeOriginal(int fromFd, const std::string& name, ObjectId expected);

// Moves the entry `fromName` of `fromFd`, which must be the object `expected`, into `toFd`
// under the first free name of `names`, by copying.
Result<MoveDone, MoveFailure> moveAcrossVolumes(int fromFd, const std::string& fromName,
                                                ObjectId expected, int toFd,
                                                const DestinationNames& names);

}  // namespace kb
