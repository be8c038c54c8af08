#include "platform/TreeOwnership.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <span>
#include <system_error>
#include <thread>

namespace kb {
namespace {

class Reowner {
  public:
    Reowner(uid_t uid, gid_t gid, ForeignEntries foreign)
        : uid_(uid), gid_(gid), foreign_(foreign) {}

    ReownReport take() { return std::move(report_); }

    bool owned(const FileStatus& s) const { return s.ownerUID == uid_ && s.groupID == gid_; }

    void note(const SystemError& error) {
        if (error.code != ENOENT && !report_.firstError) {
            report_.firstError = error;
            report_.firstError->path = prefixed(error.path);
        }
    }

    // Paths are reported below `prefix` (a top-level entry walked on its own).
    void setPrefix(std::string prefix) { prefix_ = std::move(prefix); }

    // Adds the report of another worker of the same tree.
    void merge(ReownReport other) {
        if (!report_.firstError) {
            report_.firstError = std::move(other.firstError);
        }
        for (auto& path : other.keptOwner) {
            if (report_.keptOwner.size() < maximumReportedSkips) {
                report_.keptOwner.push_back(std::move(path));
            }
        }
        report_.skippedCount += other.skippedCount;
    }

    bool keepsOwner(const FileStatus& s, const std::string& relativePath) {
        if (!keepsItsOwner(s.isRegular(), s.linkCount, s.ownerUID, uid_, foreign_)) {
            return false;
        }
        if (report_.keptOwner.size() < maximumReportedSkips) {
            report_.keptOwner.push_back(prefixed(relativePath));
        }
        ++report_.skippedCount;
        return true;
    }

    // Changes the owner of the object `fd` refers to, whose status is `s`.
    void change(int fd, const FileStatus& s, const std::string& relativePath) {
        if (owned(s) || keepsOwner(s, relativePath)) {
            return;
        }
        if (::fchownat(fd, "", uid_, gid_, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0) {
            note(systemError("fchownat", relativePath));
        }
    }

    // A non-directory entry of the directory `dirFd`, whose status is `dir`.
    void changeEntry(int dirFd, const FileStatus& dir, const std::string& name,
                     const std::string& relativePath) {
        if (closedToOthers(dir)) {
            changeByName(dirFd, name, relativePath);
        } else {
            changeThroughDescriptor(dirFd, name, relativePath);
        }
    }

    // Walks the entries below the stack's root (not the root itself); false when the tree
    // was rearranged under the walk, which stops it.
    bool walk(DirectoryStack& stack) {
        if (auto r = walkTree(stack, *this); !r) {
            note(r.error().error);
            return false;
        }
        return true;
    }

    // The walk's hooks. An entry of unknown type is first tried as a directory.
    Result<FileVisit, WalkError> file(const DirectoryStack& stack, const WalkEntry& entry) {
        if (entry.type == EntryType::unknown) {
            return FileVisit::isDirectory;
        }
        changeEntry(stack.fd(), stack.status(), entry.name, stack.relativePath(entry.name));
        return FileVisit::done;
    }
    Result<void, WalkError> enter(const DirectoryStack&, const std::string&) { return {}; }
    Result<void, WalkError> otherMount(const DirectoryStack&, const std::string&) { return {}; }
    // A directory changes hands only once its entries are done: until then it stays closed
    // to others if it was (see closedToOthers).
    Result<void, WalkError> leave(const DirectoryStack& stack, LeftDirectory& left) {
        change(left.fd.get(), left.status, stack.relativePath(left.name));
        return {};
    }
    bool keepGoing(const WalkError& error) {
        note(error.error);
        return true;
    }

  private:
    std::string prefixed(const std::string& path) const {
        if (prefix_.empty()) {
            return path;
        }
        return path.empty() ? prefix_ : prefix_ + "/" + path;
    }

    // Whether only root can add, remove or rename entries of the directory whose status is
    // `dir`: root owns it (so only root can change its mode) and neither its group nor
    // others may write it (with an ACL the group bits are the mask, which caps every named
    // entry). Its entries then keep naming the same objects between a statx and a change by
    // name, whoever holds a descriptor of the directory, so the two calls of "chown -h"
    // are as safe here as a change through a descriptor of the entry. The directory itself
    // is re-owned only after its entries (the walk re-owns directories on the way up).
    static bool closedToOthers(const FileStatus& dir) {
        return dir.ownerUID == 0 && (dir.mode & (S_IWGRP | S_IWOTH)) == 0;
    }

    // statx and fchownat by name, both without following a link.
    void changeByName(int dirFd, const std::string& name, const std::string& relativePath) {
        auto status = fileStatusAt(dirFd, name);
        if (!status) {
            note(systemError(status.error().code, "statx", relativePath));
            return;
        }
        if (status->isDirectory() || status->mountRoot || owned(*status) ||
            keepsOwner(*status, relativePath)) {
            return;
        }
        if (::fchownat(dirFd, name.c_str(), uid_, gid_, AT_SYMLINK_NOFOLLOW) != 0) {
            note(systemError("fchownat", relativePath));
        }
    }

    // Changed through a descriptor of the entry itself, so a name swapped during the walk
    // cannot redirect the change. While entries keep needing a change, the status is read
    // on that descriptor only; otherwise first by name, which is enough to leave an owned
    // entry alone.
    void changeThroughDescriptor(int dirFd, const std::string& name,
                                 const std::string& relativePath) {
        if (!expectChange_) {
            auto byName = fileStatusAt(dirFd, name);
            if (!byName) {
                note(systemError(byName.error().code, "statx", relativePath));
                return;
            }
            if (owned(*byName)) {
                return;
            }
        }
        UniqueFd fd(::openat(dirFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) {
            note(systemError("openat", relativePath));
            return;
        }
        auto status = fileStatusOf(fd.get());
        if (!status) {
            note(systemError(status.error().code, "statx", relativePath));
            return;
        }
        if (status->isDirectory() || status->mountRoot) {
            // Swapped for a directory since it was listed (not walked into), or a file
            // mounted over the entry (another file system).
            return;
        }
        expectChange_ = !owned(*status);
        change(fd.get(), *status, relativePath);
    }

    uid_t uid_;
    gid_t gid_;
    ForeignEntries foreign_;
    bool expectChange_ = false;
    std::string prefix_;
    ReownReport report_;
};

// Re-owns the top-level entry `entry` of the walk's root `rootFd` (whose status is `root`)
// and, when it is a directory on the root's mount, everything below it, with a walk of its
// own; false when a tree was rearranged under that walk.
bool reownTopEntry(Reowner& reowner, int rootFd, const FileStatus& root, const WalkEntry& entry) {
    const std::string& name = entry.name;
    if (entry.type != EntryType::directory && entry.type != EntryType::unknown) {
        reowner.changeEntry(rootFd, root, name, name);
        return true;
    }
    UniqueFd child(::openat(rootFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child) {
        if (errno == ENOTDIR || errno == ELOOP) {
            reowner.changeEntry(rootFd, root, name, name);
        } else {
            reowner.note(systemError("openat", name));
        }
        return true;
    }
    auto status = fileStatusOf(child.get());
    if (!status) {
        reowner.note(status.error());
        return true;
    }
    if (status->mountRoot || status->device != root.device || status->mountID != root.mountID) {
        return true;
    }
    auto stack = DirectoryStack::start(std::move(child));
    if (!stack) {
        reowner.note(stack.error().error);
        return true;
    }
    reowner.setPrefix(name);
    const bool whole = reowner.walk(*stack);
    if (whole) {
        reowner.change(stack->fd(), *status, "");
    }
    reowner.setPrefix({});
    return whole;
}

// The root's entries shared between `first` and a second worker on another thread, each
// taking the next one; a rearranged tree stops both.
void reownWithTwoWorkers(Reowner& first, Reowner second, DirectoryStack& stack,
                         const FileStatus& root) {
    const std::vector<WalkEntry> entries = stack.takePendingEntries();
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    const int rootFd = stack.fd();
    const auto work = [&](Reowner& reowner) {
        while (!stop.load(std::memory_order_relaxed)) {
            const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= entries.size()) {
                return;
            }
            if (!reownTopEntry(reowner, rootFd, root, entries[i])) {
                stop = true;
            }
        }
    };
    std::thread other;
    try {
        other = std::thread(work, std::ref(second));
    } catch (const std::system_error&) {
        // No second thread to be had: one worker does it all.
    }
    work(first);
    if (other.joinable()) {
        other.join();
    }
    first.merge(second.take());
}

}  // namespace

ReownReport reownTree(int parentFd, const std::string& name, ObjectId expected, uid_t uid,
                      gid_t gid, ForeignEntries foreign) {
    Reowner reowner(uid, gid, foreign);
    UniqueFd item(::openat(parentFd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!item) {
        reowner.note(systemError("openat", name));
        return reowner.take();
    }
    auto status = fileStatusOf(item.get());
    if (!status) {
        reowner.note(status.error());
        return reowner.take();
    }
    if (status->id() != expected) {
        reowner.note(systemError(ESTALE, "open", name));
        return reowner.take();
    }
    if (!status->isDirectory()) {
        reowner.change(item.get(), *status, "");
        return reowner.take();
    }
    if (isMountPoint(parentFd, *status)) {
        return reowner.take();
    }
    UniqueFd root(::openat(item.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root) {
        reowner.note(systemError("openat", name));
        return reowner.take();
    }
    auto stack = DirectoryStack::start(std::move(root));
    if (!stack) {
        reowner.note(stack.error().error);
        return reowner.take();
    }
    if (stack->worthTwoWorkers()) {
        reownWithTwoWorkers(reowner, Reowner(uid, gid, foreign), *stack, *status);
    } else {
        reowner.walk(*stack);
    }
    reowner.change(item.get(), *status, "");
    return reowner.take();
}

}  // namespace kb
