#include "platform/TreeRemoval.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

namespace kb {
namespace {

constexpr int directoryOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

WalkError systemFailure(SystemError error) {
    return WalkError{WalkProblem::systemCall, std::move(error)};
}

enum class EntryKind { directory, other, gone };

// The kind of an entry not listed as a directory, asking the file system only when the
// listing did not say.
Result<EntryKind, WalkError> kindOf(const DirectoryStack& stack, const WalkEntry& entry) {
    if (entry.type != EntryType::unknown) {
        return EntryKind::other;
    }
    auto status = fileStatusAt(stack.fd(), entry.name);
    if (!status) {
        if (status.error().code == ENOENT) {
            return EntryKind::gone;
        }
        return fail(systemFailure(
            systemError(status.error().code, "statx", stack.relativePath(entry.name))));
    }
    return status->isDirectory() ? EntryKind::directory : EntryKind::other;
}

Result<void, WalkError> removeDirectoryEntry(const DirectoryStack& stack, const std::string& name) {
    if (::unlinkat(stack.fd(), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        return fail(systemFailure(systemError("rmdir", stack.relativePath(name))));
    }
    return {};
}

// Removes the non-directory `name`; yields true when it turned out to be a directory.
Result<bool, WalkError> removeFileEntry(const DirectoryStack& stack, const std::string& name) {
    if (::unlinkat(stack.fd(), name.c_str(), 0) == 0 || errno == ENOENT) {
        return false;
    }
    if (errno == EISDIR) {
        return true;
    }
    return fail(systemFailure(systemError("unlink", stack.relativePath(name))));
}

// Set by a worker that failed, so that the other stops too.
using StopFlag = std::atomic<bool>;

// Removes what the walk meets: files as it lists them, directories once it has climbed out.
class Removal {
  public:
    explicit Removal(const StopFlag& stop) : stop_(stop) {}

    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }

    Result<FileVisit, WalkError> file(const DirectoryStack& stack, const WalkEntry& entry) {
        auto kind = kindOf(stack, entry);
        if (!kind) {
            return fail(kind.error());
        }
        if (*kind == EntryKind::gone) {
            return FileVisit::done;
        }
        if (*kind == EntryKind::directory) {
            return FileVisit::isDirectory;
        }
        auto wasDirectory = removeFileEntry(stack, entry.name);
        if (!wasDirectory) {
            return fail(wasDirectory.error());
        }
        return *wasDirectory ? FileVisit::isDirectory : FileVisit::done;
    }

    Result<void, WalkError> enter(const DirectoryStack&, const std::string&) { return {}; }

    // Not emptied: removing the mount point fails (EBUSY) and stops the walk.
    Result<void, WalkError> otherMount(const DirectoryStack& stack, const std::string& name) {
        return removeDirectoryEntry(stack, name);
    }

    Result<void, WalkError> leave(const DirectoryStack& stack, LeftDirectory& left) {
        left.fd.reset();
        return removeDirectoryEntry(stack, left.name);
    }

  private:
    const StopFlag& stop_;
};

Result<void, WalkError> emptyTree(DirectoryStack& stack, const StopFlag& stop) {
    Removal removal(stop);
    return walkTree(stack, removal);
}

WalkError under(const std::string& name, WalkError error) {
    error.error.path = error.error.path.empty() ? name : name + "/" + error.error.path;
    return error;
}

// Removes the entry `entry` of the walk's root `rootFd` (whose status is `root`) and, when it
// is a directory on the root's mount, everything below it, with a walk of its own.
Result<void, WalkError> removeTopEntry(int rootFd, const FileStatus& root, const WalkEntry& entry,
                                       const StopFlag& stop) {
    const std::string& name = entry.name;
    if (entry.type != EntryType::directory) {
        if (::unlinkat(rootFd, name.c_str(), 0) == 0 || errno == ENOENT) {
            return {};
        }
        if (errno != EISDIR) {
            return fail(systemFailure(systemError("unlink", name)));
        }
    }
    UniqueFd child(::openat(rootFd, name.c_str(), directoryOpenFlags));
    if (!child) {
        if (errno == ENOENT) {
            return {};
        }
        if (errno == ENOTDIR || errno == ELOOP) {
            if (::unlinkat(rootFd, name.c_str(), 0) != 0 && errno != ENOENT) {
                return fail(systemFailure(systemError("unlink", name)));
            }
            return {};
        }
        return fail(systemFailure(systemError("openat", name)));
    }
    auto status = fileStatusOf(child.get());
    if (!status) {
        return fail(systemFailure(status.error()));
    }
    if (!status->mountRoot && status->device == root.device && status->mountID == root.mountID) {
        auto stack = DirectoryStack::start(std::move(child));
        if (!stack) {
            return fail(under(name, stack.error()));
        }
        if (auto r = emptyTree(*stack, stop); !r) {
            return fail(under(name, r.error()));
        }
        if (stop.load(std::memory_order_relaxed)) {
            return {};
        }
    }
    // A directory on another mount is not emptied: removing its mount point fails (EBUSY).
    if (::unlinkat(rootFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        return fail(systemFailure(systemError("rmdir", name)));
    }
    return {};
}

// The entries of the root shared between two workers, each taking the next one; each
// subdirectory is removed by one worker with a walk of its own, so the two never meet.
class SharedRemoval {
  public:
    SharedRemoval(int rootFd, const FileStatus& root, std::vector<WalkEntry> entries)
        : rootFd_(rootFd), root_(root), entries_(std::move(entries)) {}

    void work() {
        for (;;) {
            const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
            if (i >= entries_.size() || stop_.load(std::memory_order_relaxed)) {
                return;
            }
            if (auto r = removeTopEntry(rootFd_, root_, entries_[i], stop_); !r) {
                const std::lock_guard lock(mutex_);
                if (!firstError_) {
                    firstError_ = r.error();
                }
                stop_ = true;
                return;
            }
        }
    }

    Result<void, WalkError> outcome() {
        if (firstError_) {
            return fail(*firstError_);
        }
        return {};
    }

  private:
    int rootFd_;
    FileStatus root_;
    std::vector<WalkEntry> entries_;
    std::atomic<std::size_t> next_{0};
    StopFlag stop_{false};
    std::mutex mutex_;
    std::optional<WalkError> firstError_;
};

Result<void, WalkError> emptyWithTwoWorkers(int rootFd, const FileStatus& status,
                                            std::vector<WalkEntry> entries) {
    SharedRemoval shared(rootFd, status, std::move(entries));
    std::thread second;
    try {
        second = std::thread([&shared] { shared.work(); });
    } catch (const std::system_error&) {
        // No second thread to be had: one worker does it all.
    }
    shared.work();
    if (second.joinable()) {
        second.join();
    }
    return shared.outcome();
}

}  // namespace

Result<void, WalkError> removeTree(int parentFd, const std::string& name, ObjectId expected) {
    UniqueFd root(
        ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root) {
        if (errno == ELOOP || errno == ENOTDIR) {
            return fail(
                WalkError{WalkProblem::directoryChanged, systemError(ENOTDIR, "openat", name)});
        }
        return fail(systemFailure(systemError("openat", name)));
    }
    auto rootStatus = fileStatusOf(root.get());
    if (!rootStatus) {
        return fail(systemFailure(rootStatus.error()));
    }
    if (rootStatus->id() != expected) {
        return fail(WalkError{WalkProblem::directoryChanged, systemError(ESTALE, "open", name)});
    }
    if (isMountPoint(parentFd, *rootStatus)) {
        // Not emptied; the kernel refuses to remove a mount point.
        if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0) {
            return fail(systemFailure(systemError("rmdir", name)));
        }
        return {};
    }
    auto stack = DirectoryStack::start(std::move(root));
    if (!stack) {
        return fail(stack.error());
    }
    if (stack->worthTwoWorkers()) {
        if (auto r = emptyWithTwoWorkers(stack->fd(), *rootStatus, stack->takePendingEntries());
            !r) {
            return r;
        }
    } else {
        const StopFlag never{false};
        if (auto r = emptyTree(*stack, never); !r) {
            return r;
        }
    }
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        return fail(systemFailure(systemError("rmdir", name)));
    }
    return {};
}

}  // namespace kb
