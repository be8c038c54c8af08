// Walking a directory tree through descriptors only.
//
// DirectoryStack holds the chain of
// directories from a walk's root down to the directory being visited: each directory is
// entered with openat(O_DIRECTORY | O_NOFOLLOW) relative to its parent, so a walk never
// follows a symbolic link, and never enters another mount (a mount point, bind mounts
// included, is reported instead of entered). Only a bounded number of descriptors stays
// open however deep the tree is: when the walk climbs back to a directory whose descriptor
// was closed, it reopens it through ".." and checks that it is the same directory (device
// and inode); if it is not (the tree was rearranged under the walk) the walk stops with
// `directoryChanged`. Each directory's listing is read whole when it is entered; a large
// one is handed out in inode order (as "rm" does: far fewer seeks on file systems that keep
// inodes in tables; not on tmpfs).
//
// walkTree drives a DirectoryStack through a whole tree and hands each entry to a visitor:
// removal, re-owning and copying are walks with different hooks.
//
// A DirectoryStack is used by one thread at a time.
#pragma once

#include <cerrno>
#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/Result.h"
#include "platform/DirectoryEntries.h"
#include "platform/FileStatus.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb {

struct WalkEntry {
    std::string name;
    EntryType type = EntryType::unknown;  // as listed; unknown when the fs won't say
    std::uint64_t inode = 0;
};

// From how many entries a directory on a disk shares its own entries between two workers.
inline constexpr std::size_t sharedListingThreshold = 4096;

enum class WalkProblem { systemCall, directoryChanged };

struct WalkError {
    WalkProblem problem = WalkProblem::systemCall;
    SystemError error;  // for directoryChanged: ESTALE and the directory's relative path
};

// A directory the walk has just climbed out of: its descriptor (still open), its status as
// it was entered, and its name in the directory the walk is now in.
struct LeftDirectory {
    UniqueFd fd;
    FileStatus status;
    std::string name;
};

enum class EnterResult {
    entered,       // the child is now the current directory
    notDirectory,  // the entry is not a directory (now): nothing was entered
    otherMount,    // the entry is a directory on another mount: not entered
    gone,          // the entry no longer exists
};

class DirectoryStack {
  public:
    // `root` must be a directory opened O_RDONLY | O_DIRECTORY; its listing is read now.
    static Result<DirectoryStack, WalkError> start(UniqueFd root);

    int fd() const { return frames_.back().fd.get(); }
    const FileStatus& status() const { return frames_.back().status; }
    const FileStatus& rootStatus() const { return frames_.front().status; }
    std::size_t depth() const { return frames_.size() - 1; }

    // The next entry of the current directory not yet handed out, or nullptr.
    const WalkEntry* nextEntry();
    // The entries of the current directory not yet handed out, and the same taken away (the
    // walk then sees none), for a caller that shares them out to walks of their own.
    std::span<const WalkEntry> pendingEntries() const;
    std::vector<WalkEntry> takePendingEntries();

    // Whether a second worker pays for the entries not yet handed out: at least two
    // subdirectories to share, or (not on tmpfs, where removing a name leaves little work
    // outside the directory's lock) enough entries of the directory's own.
    bool worthTwoWorkers() const;

    // Enters the child `name` of the current directory.
    Result<EnterResult, WalkError> enter(const std::string& name);

    // Leaves the current directory (never the root) for its parent; yields the directory left.
    // When the parent's descriptor had been closed it is reopened through ".." and must be
    // the directory entered on the way down; otherwise the result is `directoryChanged` and
    // the stack is left unusable.
    Result<LeftDirectory, WalkError> leave();

    // The current directory's path relative to the root ("" at the root), for messages.
    std::string relativePath() const;
    // `name` inside the current directory, relative to the root.
    std::string relativePath(const std::string& name) const;

  private:
    struct Frame {
        UniqueFd fd;
        FileStatus status;
        std::string name;
        std::vector<WalkEntry> entries;
        std::size_t next = 0;
    };

    DirectoryStack() = default;
    Result<std::vector<WalkEntry>, SystemError> list(int fd);

    std::vector<Frame> frames_;
    DirectoryReader reader_;
    std::size_t firstOpen_ = 0;  // frames below this index have closed descriptors
};

// What a visitor's file hook found.
enum class FileVisit {
    done,         // the entry is dealt with (or gone)
    isDirectory,  // the entry turned out to be a directory: the walk enters it
};

// Walks everything below the stack's current directory, depth first, in listing order,
// handing each entry to `visitor`:
//
//   Result<FileVisit, WalkError> file(const DirectoryStack&, const WalkEntry&)
//       an entry not listed as a directory (its type may be unknown), or one the walk could
//       not enter because it is not a directory (its type is then `other`; answering
//       isDirectory again stops the walk with directoryChanged: it keeps changing).
//   Result<void, WalkError> enter(const DirectoryStack&, const std::string& name)
//       the stack has just entered the directory `name`.
//   Result<void, WalkError> otherMount(const DirectoryStack&, const std::string& name)
//       `name` is a directory on another mount; it was not entered.
//   Result<void, WalkError> leave(const DirectoryStack&, LeftDirectory&)
//       the stack has just climbed out of a directory whose entries are all done.
//
// Optional hooks: `bool keepGoing(const WalkError&)`, asked when entering a directory fails
// (true goes on with the next entry; without the hook the walk stops with the error), and
// `bool stopRequested() const`, asked before each entry (true ends the walk at once,
// successfully). A hook's error stops the walk with that error, as does a tree rearranged
// under the climb. The walk never calls a hook for the starting directory itself.
template <class Visitor>
Result<void, WalkError> walkTree(DirectoryStack& stack, Visitor& visitor) {
    const std::size_t base = stack.depth();
    for (;;) {
        if constexpr (requires { visitor.stopRequested(); }) {
            if (visitor.stopRequested()) {
                return {};
            }
        }
        const WalkEntry* listed = stack.nextEntry();
        if (listed == nullptr) {
            if (stack.depth() == base) {
                return {};
            }
            auto left = stack.leave();
            if (!left) {
                return fail(left.error());
            }
            if (auto r = visitor.leave(std::as_const(stack), *left); !r) {
                return r;
            }
            continue;
        }
        const WalkEntry entry = *listed;
        if (entry.type != EntryType::directory) {
            auto visited = visitor.file(std::as_const(stack), entry);
            if (!visited) {
                return fail(visited.error());
            }
            if (*visited == FileVisit::done) {
                continue;
            }
        }
        auto entered = stack.enter(entry.name);
        if (!entered) {
            if constexpr (requires { visitor.keepGoing(entered.error()); }) {
                if (visitor.keepGoing(entered.error())) {
                    continue;
                }
            }
            return fail(entered.error());
        }
        switch (*entered) {
            case EnterResult::gone:
                break;
            case EnterResult::entered:
                if (auto r = visitor.enter(std::as_const(stack), entry.name); !r) {
                    return r;
                }
                break;
            case EnterResult::otherMount:
                if (auto r = visitor.otherMount(std::as_const(stack), entry.name); !r) {
                    return r;
                }
                break;
            case EnterResult::notDirectory: {
                auto visited = visitor.file(std::as_const(stack),
                                            WalkEntry{entry.name, EntryType::other, entry.inode});
                if (!visited) {
                    return fail(visited.error());
                }
                if (*visited == FileVisit::isDirectory) {
                    return fail(
                        WalkError{WalkProblem::directoryChanged,
                                  systemError(ESTALE, "enter", stack.relativePath(entry.name))});
                }
                break;
            }
        }
    }
}

// From how many entries a listing is sorted by inode.
inline constexpr std::size_t inodeOrderThreshold = 10000;

// How many directory descriptors one walk keeps open at most.
inline constexpr std::size_t walkDescriptorBudget = 32;

}  // namespace kb
