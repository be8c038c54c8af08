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
// A DirectoryStack is used by one thread at a time.
#pragma once

#include <cstddef>
#include <span>
#include <string>
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

// Whether a second worker pays for a tree whose root lists `entries`: it holds at least two
// subdirectories to share between them.
inline bool worthTwoWorkers(std::span<const WalkEntry> entries) {
    int directories = 0;
    for (const auto& entry : entries) {
        if (entry.type == EntryType::directory && ++directories == 2) {
            return true;
        }
    }
    return false;
}

enum class WalkProblem { systemCall, directoryChanged };

struct WalkError {
    WalkProblem problem = WalkProblem::systemCall;
    SystemError error;  // for directoryChanged: ESTALE and the directory's relative path
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

    // Enters the child `name` of the current directory.
    Result<EnterResult, WalkError> enter(const std::string& name);

    // Leaves the current directory (never the root) for its parent; yields the name the
    // left directory has there.
    Result<std::string, WalkError> leave();

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

// From how many entries a listing is sorted by inode.
inline constexpr std::size_t inodeOrderThreshold = 10000;

// How many directory descriptors one walk keeps open at most.
inline constexpr std::size_t walkDescriptorBudget = 32;

}  // namespace kb
