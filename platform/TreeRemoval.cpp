#include "platform/TreeRemoval.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kb {
namespace {

WalkError systemFailure(SystemError error) {
    return WalkError{WalkProblem::systemCall, std::move(error)};
}

enum class EntryKind { directory, other, gone };

// The entry's kind, asking the file system only when the listing did not say.
Result<EntryKind, WalkError> kindOf(const DirectoryStack& stack, const WalkEntry& entry) {
    if (entry.type == EntryType::directory) {
        return EntryKind::directory;
    }
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

Result<void, WalkError> emptyTree(DirectoryStack& stack) {
    for (;;) {
        const WalkEntry* entry = stack.nextEntry();
        if (entry == nullptr) {
            if (stack.depth() == 0) {
                return {};
            }
            auto left = stack.leave();
            if (!left) {
                return fail(left.error());
            }
            if (auto r = removeDirectoryEntry(stack, *left); !r) {
                return r;
            }
            continue;
        }
        auto kind = kindOf(stack, *entry);
        if (!kind) {
            return fail(kind.error());
        }
        if (*kind == EntryKind::gone) {
            continue;
        }
        if (*kind == EntryKind::other) {
            auto wasDirectory = removeFileEntry(stack, entry->name);
            if (!wasDirectory) {
                return fail(wasDirectory.error());
            }
            if (!*wasDirectory) {
                continue;
            }
        }
        const std::string name = entry->name;
        auto entered = stack.enter(name);
        if (!entered) {
            return fail(entered.error());
        }
        switch (*entered) {
            case EnterResult::entered:
            case EnterResult::gone:
                break;
            case EnterResult::notDirectory:
                if (auto r = removeFileEntry(stack, name); !r) {
                    return fail(r.error());
                }
                break;
            case EnterResult::otherMount:
                // Not emptied: removing the mount point fails (EBUSY) and stops the walk.
                if (auto r = removeDirectoryEntry(stack, name); !r) {
                    return r;
                }
                break;
        }
    }
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
    if (auto r = emptyTree(*stack); !r) {
        return r;
    }
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        return fail(systemFailure(systemError("rmdir", name)));
    }
    return {};
}

}  // namespace kb
