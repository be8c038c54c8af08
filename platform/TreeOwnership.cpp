#include "platform/TreeOwnership.h"

#include <fcntl.h>
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

    // A non-directory entry of `dirFd`: changed through a descriptor of the entry itself.
    // While entries keep needing a change, the status is read on that descriptor only;
    // otherwise first by name, which is enough to leave an owned entry alone.
    void changeEntry(int dirFd, const std::string& name, const std::string& relativePath) {
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
        if (status->isDirectory()) {
            // Swapped for a directory since it was listed: not walked into.
            return;
        }
        expectChange_ = !owned(*status);
        change(fd.get(), *status, relativePath);
    }

    void walk(DirectoryStack& stack) {
        for (;;) {
            const WalkEntry* entry = stack.nextEntry();
            if (entry == nullptr) {
                if (stack.depth() == 0) {
                    return;
                }
                if (auto left = stack.leave(); !left) {
                    note(left.error().error);
                    return;
                }
                continue;
            }
            const std::string name = entry->name;
            if (entry->type != EntryType::directory && entry->type != EntryType::unknown) {
                changeEntry(stack.fd(), name, stack.relativePath(name));
                continue;
            }
            auto entered = stack.enter(name);
            if (!entered) {
                note(entered.error().error);
                continue;
            }
            switch (*entered) {
                case EnterResult::entered:
                    change(stack.fd(), stack.status(), stack.relativePath());
                    break;
                case EnterResult::notDirectory:
                    changeEntry(stack.fd(), name, stack.relativePath(name));
                    break;
                case EnterResult::otherMount:
                case EnterResult::gone:
                    break;
            }
        }
    }

  private:
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
    reowner.change(root.get(), *status, "");
    auto stack = DirectoryStack::start(std::move(root));
    if (!stack) {
        reowner.note(stack.error().error);
        return reowner.take();
    }
    reowner.walk(*stack);
    return reowner.take();
}

}  // namespace kb
