// Giving a whole tree to one account (the safe form of "chown -hR uid:gid").
//
// Works through descriptors like the tree removal: links are re-owned as links and never
// followed, the walk never enters another mount (a mount point, a file mounted over an entry
// included, is left as it is, its owner included). An entry is changed only where no other
// account can swap it between the read of its status and the change: through a descriptor
// of the entry itself, or by name inside a directory that only root can modify (root-owned,
// not writable by group or others). Directories change hands after their entries. A tree
// with two or more subdirectories at its top is re-owned by two threads, each taking the
// next top-level entry and walking it on its own.
// Entries whose owner and group already match are left alone. A regular file with more
// than one hard link that belongs to another account is left alone too (the other links
// may be anywhere, a system file included) and reported. With ForeignEntries::keepTheirOwner
// every entry that another account owns keeps its owner and group (an ordinary user who
// trashes their own directory must not be handed what root or others left inside it). Failures do
// not stop the walk, except a tree rearranged under it. Thread-safe.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/DirectoryWalk.h"
#include "platform/FileStatus.h"

namespace kb {

struct ReownReport {
    // The first failure other than "no such file" (an entry that vanished), if any.
    std::optional<SystemError> firstError;
    // Relative paths ("" is the item itself) of the entries that kept their owner (foreign
    // hard links, or every foreign entry under keepTheirOwner); at most
    // `maximumReportedSkips` are listed, `skippedCount` counts them all.
    std::vector<std::string> keptOwner;
    std::size_t skippedCount = 0;
};

inline constexpr std::size_t maximumReportedSkips = 64;

// Whether the entries of a tree that another account owns change hands: only when the
// request was made with root's authority or an administrator's consent.
enum class ForeignEntries { keepTheirOwner, handOver };

// The hard-link rule: a regular file with more than one link that another account owns
// keeps its owner.
inline bool isForeignHardLink(bool regular, std::uint64_t linkCount, uid_t owner, uid_t account) {
    return regular && linkCount > 1 && owner != account;
}

// Whether an entry keeps its owner when its tree is given to `account`.
inline bool keepsItsOwner(bool regular, std::uint64_t linkCount, uid_t owner, uid_t account,
                          ForeignEntries foreign) {
    return owner != account && (foreign == ForeignEntries::keepTheirOwner ||
                                isForeignHardLink(regular, linkCount, owner, account));
}

// Re-owns the entry `name` of `parentFd` and, when it is a directory, everything below it.
// The entry must be the object `expected` names; otherwise nothing is changed and the
// report's error is ESTALE.
ReownReport reownTree(int parentFd, const std::string& name, ObjectId expected, uid_t uid,
                      gid_t gid, ForeignEntries foreign);

}  // namespace kb
