#include "platform/ItemCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
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
    FileStatus st;
    std::vector<ExtendedAttribute> attributes;
};

// The owner every copied entry gets, and the files that kept theirs.
class Ownership {
  public:
    Ownership(std::optional<CopyAccount> account, std::string rootName)
        : account_(account), root_(std::move(rootName)) {}

    // The owner and group for the copy of an entry with status `st` at `relativePath`.
    std::pair<uid_t, gid_t> ownerFor(const FileStatus& st, const std::string& relativePath) {
        if (!account_) {
            return {st.ownerUID, st.groupID};
        }
        if (keepsItsOwner(st.isRegular(), st.linkCount, st.ownerUID, account_->uid,
                          account_->foreign)) {
            if (kept_.keptOwner.size() < maximumReportedSkips) {
                kept_.keptOwner.push_back(relativePath.size() > root_.size()
                                              ? relativePath.substr(root_.size() + 1)
                                              : "");
            }
            ++kept_.skippedCount;
            return {st.ownerUID, st.groupID};
        }
        return {account_->uid, account_->gid};
    }

    ReownReport take() { return std::move(kept_); }

  private:
    std::optional<CopyAccount> account_;
    std::string root_;
    ReownReport kept_;
};

std::array<struct timespec, 2> timesOf(const FileStatus& st) {
    return {timespec{st.accessTime, st.accessNanoseconds},
            timespec{st.modificationTime, st.modificationNanoseconds}};
}

// The status of `fd`, just opened for `path`; a failed open or statx is reported as `step`.
Result<FileStatus, SystemError> statusOfOpened(const UniqueFd& fd, const char* step,
                                               const std::string& path) {
    if (!fd) {
        return fail(systemError(step, path));
    }
    auto status = fileStatusOf(fd.get());
    if (!status) {
        return fail(systemError(status.error().code, step, path));
    }
    return status;
}

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
    auto status = fileStatusOf(fd);
    if (!status) {
        return fail(systemError(status.error().code, "read the status of", path));
    }
    metadata.st = *status;
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
    const bool handedOver = owner.first != m.st.ownerUID;
    const mode_t mode = m.st.mode & (handedOver ? 01777 : 07777);
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
    const auto times = timesOf(m.st);
    if (::futimens(fd, times.data()) != 0) {
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
    const ObjectId id = metadata->st.id();
    if (!metadata->st.isRegular() || (expected && id != *expected)) {
        return fail(systemError(ESTALE, "copy", path));
    }
    UniqueFd to(::openat(toDir, toName.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const auto created = statusOfOpened(to, "create the copy of", path);
    if (!created) {
        return fail(created.error());
    }
    if (auto r = copyData(from.get(), to.get(), path); !r) {
        return fail(r.error());
    }
    // The source's own link count and owner decide (the copy has a single link).
    if (auto r = applyMetadata(to.get(), *metadata, path, ownership.ownerFor(metadata->st, path));
        !r) {
        return fail(r.error());
    }
    return created->id();
}

Result<ObjectId, SystemError> copySymlink(int fromDir, const std::string& name, int toDir,
                                          const std::string& toName, const std::string& path,
                                          const FileStatus& st, Ownership& ownership) {
    std::string target(static_cast<std::size_t>(st.size) + 1, '\0');
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
    const auto created = statusOfOpened(link, "open", path);
    if (!created || !created->isSymlink()) {
        return fail(systemError(ESTALE, "create the copy of", path));
    }
    const auto owner = ownership.ownerFor(st, path);
    if (::fchownat(link.get(), "", owner.first, owner.second, AT_EMPTY_PATH) != 0) {
        return fail(systemError("set the owner of", path));
    }
    const auto times = timesOf(st);
    ::utimensat(toDir, toName.c_str(), times.data(), AT_SYMLINK_NOFOLLOW);
    return created->id();
}

// Copies one non-directory entry (a directory found here is reported as EISDIR).
Result<void, SystemError> copyLeaf(int fromDir, const std::string& name, int toDir,
                                   const std::string& path, Ownership& ownership) {
    const auto st = fileStatusAt(fromDir, name);
    if (!st) {
        return fail(systemError(st.error().code, "read the status of", path));
    }
    if (st->isRegular()) {
        auto r = copyRegular(fromDir, name, toDir, name, path, st->id(), ownership);
        return r ? Result<void, SystemError>() : fail(r.error());
    }
    if (st->isSymlink()) {
        auto r = copySymlink(fromDir, name, toDir, name, path, *st, ownership);
        return r ? Result<void, SystemError>() : fail(r.error());
    }
    if (st->isDirectory()) {
        return fail(systemError(EISDIR, "copy", path));
    }
    return fail(systemError(ENOTSUP, "copy the special file", path));
}

// Copies what the source walk meets into a target walk kept in step with it: files as they
// are listed, a directory's metadata once its entries are done (its times would otherwise
// change with each copied entry).
class Copier {
  public:
    Copier(DirectoryStack target, std::string rootName, Ownership& ownership)
        : target_(std::move(target)), root_(std::move(rootName)), ownership_(ownership) {}

    Result<FileVisit, WalkError> file(const DirectoryStack& source, const WalkEntry& entry) {
        const std::string path = shown(source.relativePath(entry.name));
        auto r = copyLeaf(source.fd(), entry.name, target_.fd(), path, ownership_);
        if (r) {
            return FileVisit::done;
        }
        if (r.error().code == EISDIR && entry.type != EntryType::other) {
            return FileVisit::isDirectory;
        }
        return failed(r.error());
    }

    Result<void, WalkError> enter(const DirectoryStack& source, const std::string& name) {
        const std::string path = shown(source.relativePath());
        auto metadata = readMetadata(source.fd(), path);
        if (!metadata) {
            return failed(metadata.error());
        }
        pending_.push_back(std::move(*metadata));
        if (::mkdirat(target_.fd(), name.c_str(), 0700) != 0) {
            return failed(systemError("create the copy of", path));
        }
        auto made = target_.enter(name);
        if (!made || *made != EnterResult::entered) {
            return failed(systemError(ESTALE, "create the copy of", path));
        }
        return {};
    }

    Result<void, WalkError> otherMount(const DirectoryStack& source, const std::string& name) {
        return failed(systemError(EBUSY, "copy the mount point", shown(source.relativePath(name))));
    }

    Result<void, WalkError> leave(const DirectoryStack& source, LeftDirectory& left) {
        if (auto r = finishDirectory(shown(source.relativePath(left.name))); !r) {
            return failed(r.error());
        }
        pending_.pop_back();
        if (auto r = target_.leave(); !r) {
            return fail(r.error());
        }
        return {};
    }

    // The metadata of the directory the walks are in, `path` as shown in messages.
    Result<void, SystemError> finishDirectory(const std::string& path) {
        return applyMetadata(target_.fd(), pending_.back(), path,
                             ownership_.ownerFor(pending_.back().st, path));
    }

    void startAt(SourceMetadata root) { pending_.push_back(std::move(root)); }

  private:
    std::string shown(const std::string& relative) const {
        return relative.empty() ? root_ : root_ + "/" + relative;
    }
    static Failure<WalkError> failed(SystemError error) {
        return fail(WalkError{WalkProblem::systemCall, std::move(error)});
    }

    DirectoryStack target_;
    std::string root_;
    Ownership& ownership_;
    std::vector<SourceMetadata> pending_;
};

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
    auto rootMetadata = readMetadata(source->fd(), rootName);
    if (!rootMetadata) {
        return fail(rootMetadata.error());
    }
    Copier copier(std::move(*target), rootName, ownership);
    copier.startAt(std::move(*rootMetadata));
    if (auto r = walkTree(*source, copier); !r) {
        return fail(r.error().error);
    }
    return copier.finishDirectory(rootName);
}

}  // namespace

Result<CopyDone, SystemError> copyItem(int fromFd, const std::string& fromName, ObjectId expected,
                                       int toFd, const std::string& toName,
                                       std::optional<CopyAccount> account) {
    UniqueFd item(::openat(fromFd, fromName.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    const auto status = statusOfOpened(item, "open", fromName);
    if (!status) {
        return fail(status.error());
    }
    const FileStatus& st = *status;
    if (st.id() != expected) {
        return fail(systemError(ESTALE, "copy", fromName));
    }
    Ownership ownership(account, fromName);
    if (!st.isDirectory()) {
        auto copied =
            st.isRegular()
                ? copyRegular(fromFd, fromName, toFd, toName, fromName, expected, ownership)
            : st.isSymlink() ? copySymlink(fromFd, fromName, toFd, toName, fromName, st, ownership)
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
    const auto made = statusOfOpened(to, "create the copy of", fromName);
    if (!made) {
        return fail(made.error());
    }
    const ObjectId copyId = made->id();
    if (auto r = copyTree(std::move(from), std::move(to), fromName, ownership); !r) {
        (void)removeTree(toFd, toName, copyId);
        return fail(r.error());
    }
    return CopyDone{copyId, ownership.take()};
}

}  // namespace kb
