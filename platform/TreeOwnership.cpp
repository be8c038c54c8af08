#include "platform/TreeOwnership.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
        }
    }

    bool keepsOwner(const FileStatus& s, const std::string& relativePath) {
        if (!keepsItsOwner(s.isRegular(), s.linkCount, s.ownerUID, uid_, foreign_)) {
            return false;
        }
        if (report_.keptOwner.size() < maximumReportedSkips) {
            report_.keptOwner.push_back(relativePath);
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

    void walk(DirectoryStack& stack) {
        for (;;) {
            const WalkEntry* entry = stack.nextEntry();
            if (entry == nullptr) {
                if (stack.depth() == 0) {
                    return;
                }
                // A directory changes hands only once its entries are done: until then it
                // stays closed to others if it was (see closedToOthers).
                change(stack.fd(), stack.status(), stack.relativePath());
                if (auto left = stack.leave(); !left) {
                    note(left.error().error);
                    return;
                }
                continue;
            }
            const std::string name = entry->name;
            if (entry->type != EntryType::directory && entry->type != EntryType::unknown) {
                changeEntry(stack.fd(), stack.status(), name, stack.relativePath(name));
                continue;
            }
            auto entered = stack.enter(name);
            if (!entered) {
                note(entered.error().error);
                continue;
            }
            if (*entered == EnterResult::notDirectory) {
                changeEntry(stack.fd(), stack.status(), name, stack.relativePath(name));
            }
        }
    }

  private:
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
    ReownReport report_;
};

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
    reowner.walk(*stack);
    reowner.change(item.get(), *status, "");
    return reowner.take();
}

}  // namespace kb
