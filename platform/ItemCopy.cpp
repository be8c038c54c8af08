#include "platform/ItemCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/DirectoryWalk.h"
#include "platform/TreeRemoval.h"
#include "platform/UniqueFd.h"

namespace kb {
namespace {

struct ExtendedAttribute {
    std::string name;
    std::string value;
};

struct SourceMetadata {
    struct stat st {};
    std::vector<ExtendedAttribute> attributes;
};

// The owner every copied entry gets, and the files that kept theirs.
class Ownership {
  public:
    Ownership(std::optional<CopyAccount> account, std::string rootName)
        : account_(account), root_(std::move(rootName)) {}

    // The owner and group for the copy of an entry with status `st` at `relativePath`.
    std::pair<uid_t, gid_t> ownerFor(const struct stat& st, const std::string& relativePath) {
        if (!account_) {
            return {st.st_uid, st.st_gid};
        }
        if (keepsItsOwner(S_ISREG(st.st_mode), st.st_nlink, st.st_uid, account_->uid,
                          account_->foreign)) {
            if (kept_.keptOwner.size() < maximumReportedSkips) {
                kept_.keptOwner.push_back(relativePath.size() > root_.size()
                                              ? relativePath.substr(root_.size() + 1)
                                              : "");
            }
            ++kept_.skippedCount;
            return {st.st_uid, st.st_gid};
        }
        return {account_->uid, account_->gid};
    }

    ReownReport take() { return std::move(kept_); }

  private:
    std::optional<CopyAccount> account_;
    std::string root_;
    ReownReport kept_;
};

bool unsupported(int code) {
    return code == ENOTSUP || code == EOPNOTSUPP;
}

Result<std::vector<ExtendedAttribute>, SystemError> readAttributes(int fd,
                                                                   const std::string& path) {
    std::vector<ExtendedAttribute> attributes;
    std::string names(256, '\0');
    ssize_t size;
    while ((size = ::flistxattr(fd, names.data(), names.size())) < 0) {
        if (errno == ERANGE) {
            names.resize(names.size() * 4);
            continue;
        }
        if (unsupported(errno)) {
            return attributes;
        }
        return fail(systemError("read the extended attributes of", path));
    }
    names.resize(static_cast<std::size_t>(size));
    for (std::size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        std::string value(256, '\0');
        ssize_t length;
        while ((length = ::fgetxattr(fd, name.c_str(), value.data(), value.size())) < 0) {
            if (errno != ERANGE) {
                return fail(systemError("read the extended attributes of", path));
            }
            value.resize(value.size() * 4);
        }
        value.resize(static_cast<std::size_t>(length));
        attributes.push_back({name, std::move(value)});
    }
    return attributes;
}

Result<SourceMetadata, SystemError> readMetadata(int fd, const std::string& path) {
    SourceMetadata metadata;
    if (::fstat(fd, &metadata.st) != 0) {
        return fail(systemError("read the status of", path));
    }
    auto attributes = readAttributes(fd, path);
    if (!attributes) {
        return fail(attributes.error());
    }
    metadata.attributes = std::move(*attributes);
    return metadata;
}

// Owner first (a change of owner clears set-id bits), then mode, attributes (an ACL after
// the mode it refines) and times last. A copy handed to another owner loses its set-id bits
// and file capabilities, as chown(2) takes them from a file that changes hands.
Result<void, SystemError> applyMetadata(int fd, const SourceMetadata& m, const std::string& path,
                                        std::pair<uid_t, gid_t> owner) {
    if (::fchown(fd, owner.first, owner.second) != 0) {
        return fail(systemError("set the owner of", path));
    }
    const bool handedOver = owner.first != m.st.st_uid;
    const mode_t mode = m.st.st_mode & (handedOver ? 01777 : 07777);
    if (::fchmod(fd, mode) != 0) {
        return fail(systemError("set the mode of", path));
    }
    for (const auto& a : m.attributes) {
        if (handedOver && a.name == "security.capability") {
            continue;
        }
        if (::fsetxattr(fd, a.name.c_str(), a.value.data(), a.value.size(), 0) != 0 &&
            !unsupported(errno)) {
            return fail(systemError("set the extended attributes of", path));
        }
    }
    const struct timespec times[2] = {m.st.st_atim, m.st.st_mtim};
    if (::futimens(fd, times) != 0) {
        return fail(systemError("set the times of", path));
    }
    return {};
}

Result<void, SystemError> copyData(int from, int to, const std::string& path) {
    bool kernelCopy = true;
    char buffer[128 * 1024];
    for (;;) {
        ssize_t n;
        if (kernelCopy) {
            n = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
            if (n < 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || unsupported(errno))) {
                kernelCopy = false;
                continue;
            }
        } else {
            n = ::read(from, buffer, sizeof buffer);
            for (ssize_t done = 0; n > 0 && done < n;) {
                const ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
                if (w < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return fail(systemError("copy", path));
                }
                done += w;
            }
        }
        if (n == 0) {
            return {};
        }
        if (n < 0 && errno != EINTR) {
            return fail(systemError("copy", path));
        }
    }
}

// Copies the regular file `name` of `fromDir`; `expected` (when given) must be the file.
Result<ObjectId, SystemError> copyRegular(int fromDir, const std::string& name, int toDir,
                                          const std::string& toName, const std::string& path,
                                          std::optional<ObjectId> expected, Ownership& ownership) {
    UniqueFd from(
        ::openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!from) {
        return fail(systemError("open", path));
    }
    auto metadata = readMetadata(from.get(), path);
    if (!metadata) {
        return fail(metadata.error());
    }
    const ObjectId id{static_cast<std::uint64_t>(metadata->st.st_dev), metadata->st.st_ino};
    if (!S_ISREG(metadata->st.st_mode) || (expected && id != *expected)) {
        return fail(systemError(ESTALE, "copy", path));
    }
    UniqueFd to(::openat(toDir, toName.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!to) {
        return fail(systemError("create the copy of", path));
    }
    struct stat created {};
    ::fstat(to.get(), &created);
    if (auto r = copyData(from.get(), to.get(), path); !r) {
        return fail(r.error());
    }
    // The source's own link count and owner decide (the copy has a single link).
    if (auto r = applyMetadata(to.get(), *metadata, path, ownership.ownerFor(metadata->st, path));
        !r) {
        return fail(r.error());
    }
    return ObjectId{static_cast<std::uint64_t>(created.st_dev), created.st_ino};
}

Result<ObjectId, SystemError> copySymlink(int fromDir, const std::string& name, int toDir,
                                          const std::string& toName, const std::string& path,
                                          const struct stat& st, Ownership& ownership) {
    std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
    ssize_t n;
    while ((n = ::readlinkat(fromDir, name.c_str(), target.data(), target.size())) >=
           static_cast<ssize_t>(target.size())) {
        target.resize(target.size() * 2);
    }
    if (n < 0) {
        return fail(systemError("read the link", path));
    }
    target.resize(static_cast<std::size_t>(n));
    if (::symlinkat(target.c_str(), toDir, toName.c_str()) != 0) {
        return fail(systemError("create the copy of", path));
    }
    UniqueFd link(::openat(toDir, toName.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat created {};
    if (!link || ::fstat(link.get(), &created) != 0 || !S_ISLNK(created.st_mode)) {
        return fail(systemError(ESTALE, "create the copy of", path));
    }
    const auto owner = ownership.ownerFor(st, path);
    if (::fchownat(link.get(), "", owner.first, owner.second, AT_EMPTY_PATH) != 0) {
        return fail(systemError("set the owner of", path));
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(toDir, toName.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return ObjectId{static_cast<std::uint64_t>(created.st_dev), created.st_ino};
}

// Copies one non-directory entry (a directory found here is reported as EISDIR).
Result<void, SystemError> copyLeaf(int fromDir, const std::string& name, int toDir,
                                   const std::string& path, Ownership& ownership) {
    struct stat st {};
    if (::fstatat(fromDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return fail(systemError("read the status of", path));
    }
    if (S_ISREG(st.st_mode)) {
        auto r = copyRegular(fromDir, name, toDir, name, path,
                             ObjectId{static_cast<std::uint64_t>(st.st_dev), st.st_ino}, ownership);
        return r ? Result<void, SystemError>() : fail(r.error());
    }
    if (S_ISLNK(st.st_mode)) {
        auto r = copySymlink(fromDir, name, toDir, name, path, st, ownership);
        return r ? Result<void, SystemError>() : fail(r.error());
    }
    if (S_ISDIR(st.st_mode)) {
        return fail(systemError(EISDIR, "copy", path));
    }
    return fail(systemError(ENOTSUP, "copy the special file", path));
}

// Copies the directory tree `from` (an open source directory) into the new directory `to`.
Result<void, SystemError> copyTree(UniqueFd from, UniqueFd to, const std::string& rootName,
                                   Ownership& ownership) {
    auto source = DirectoryStack::start(std::move(from));
    if (!source) {
        return fail(source.error().error);
    }
    auto target = DirectoryStack::start(std::move(to));
    if (!target) {
        return fail(target.error().error);
    }
    auto shown = [&](const std::string& relative) {
        return relative.empty() ? rootName : rootName + "/" + relative;
    };
    std::vector<SourceMetadata> pending;
    auto rootMetadata = readMetadata(source->fd(), rootName);
    if (!rootMetadata) {
        return fail(rootMetadata.error());
    }
    pending.push_back(std::move(*rootMetadata));
    for (;;) {
        const WalkEntry* entry = source->nextEntry();
        if (entry == nullptr) {
            const std::string shownPath = shown(source->relativePath());
            if (auto r = applyMetadata(target->fd(), pending.back(), shownPath,
                                       ownership.ownerFor(pending.back().st, shownPath));
                !r) {
                return r;
            }
            pending.pop_back();
            if (source->depth() == 0) {
                return {};
            }
            auto leftSource = source->leave();
            auto leftTarget = target->leave();
            if (!leftSource) {
                return fail(leftSource.error().error);
            }
            if (!leftTarget) {
                return fail(leftTarget.error().error);
            }
            continue;
        }
        const std::string name = entry->name;
        const std::string path = shown(source->relativePath(name));
        if (entry->type != EntryType::directory) {
            auto r = copyLeaf(source->fd(), name, target->fd(), path, ownership);
            if (r || r.error().code != EISDIR) {
                if (!r) {
                    return r;
                }
                continue;
            }
        }
        auto entered = source->enter(name);
        if (!entered) {
            return fail(entered.error().error);
        }
        switch (*entered) {
            case EnterResult::gone:
                continue;
            case EnterResult::otherMount:
                return fail(systemError(EBUSY, "copy the mount point", path));
            case EnterResult::notDirectory:
                if (auto r = copyLeaf(source->fd(), name, target->fd(), path, ownership); !r) {
                    return r;
                }
                continue;
            case EnterResult::entered:
                break;
        }
        auto metadata = readMetadata(source->fd(), path);
        if (!metadata) {
            return fail(metadata.error());
        }
        pending.push_back(std::move(*metadata));
        if (::mkdirat(target->fd(), name.c_str(), 0700) != 0) {
            return fail(systemError("create the copy of", path));
        }
        auto made = target->enter(name);
        if (!made || *made != EnterResult::entered) {
            return fail(systemError(ESTALE, "create the copy of", path));
        }
    }
}

}  // namespace

Result<CopyDone, SystemError> copyItem(int fromFd, const std::string& fromName, ObjectId expected,
                                       int toFd, const std::string& toName,
                                       std::optional<CopyAccount> account) {
    UniqueFd item(::openat(fromFd, fromName.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!item || ::fstat(item.get(), &st) != 0) {
        return fail(systemError("open", fromName));
    }
    if (ObjectId{static_cast<std::uint64_t>(st.st_dev), st.st_ino} != expected) {
        return fail(systemError(ESTALE, "copy", fromName));
    }
    Ownership ownership(account, fromName);
    if (!S_ISDIR(st.st_mode)) {
        auto copied = S_ISREG(st.st_mode) ? copyRegular(fromFd, fromName, toFd, toName, fromName,
                                                        expected, ownership)
                      : S_ISLNK(st.st_mode)
                          ? copySymlink(fromFd, fromName, toFd, toName, fromName, st, ownership)
                          : Result<ObjectId, SystemError>(
                                fail(systemError(ENOTSUP, "copy the special file", fromName)));
        if (!copied) {
            if (copied.error().code != ENOTSUP) {
                ::unlinkat(toFd, toName.c_str(), 0);
            }
            return fail(copied.error());
        }
        return CopyDone{*copied, ownership.take()};
    }
    UniqueFd from(::openat(item.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!from) {
        return fail(systemError("open", fromName));
    }
    if (::mkdirat(toFd, toName.c_str(), 0700) != 0) {
        return fail(systemError("create the copy of", fromName));
    }
    UniqueFd to(::openat(toFd, toName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat made {};
    if (!to || ::fstat(to.get(), &made) != 0) {
        return fail(systemError("create the copy of", fromName));
    }
    const ObjectId copyId{static_cast<std::uint64_t>(made.st_dev), made.st_ino};
    if (auto r = copyTree(std::move(from), std::move(to), fromName, ownership); !r) {
        (void)removeTree(toFd, toName, copyId);
        return fail(r.error());
    }
    return CopyDone{copyId, ownership.take()};
}

}  // namespace kb
