#include "helper/StagingDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>

#include "platform/DirectoryEntries.h"
#include "platform/FileStatus.h"

namespace kb {
namespace {

bool isEmpty(int fd) {
    DirectoryReader reader;
    reader.start(fd);
    return !reader.next() && !reader.failed();
}

std::string freshName() {
    uuid_t uuid;
    ::uuid_generate_random(uuid);
    char text[37];
    ::uuid_unparse_upper(uuid, text);
    return std::string(stagingPrefix) + text;
}

}  // namespace

bool isStagingName(std::string_view name) {
    return name.substr(0, stagingPrefix.size()) == stagingPrefix;
}

bool isRootPrivateDirectory(int fd) {
    const auto st = fileStatusOf(fd);
    return st && st->isDirectory() && st->ownerUID == 0 && (st->mode & 07777) == 0700;
}

Result<StagingSubdirectory, int> makeStagingSubdirectory(int trashFd) {
    std::string name = freshName();
    // A random name is taken only if the account guessed it (or planted it): try another.
    for (int attempt = 0; ::mkdirat(trashFd, name.c_str(), 0700) != 0; ++attempt) {
        if (errno != EEXIST || attempt == 3) {
            return fail(errno);
        }
        name = freshName();
    }
    UniqueFd fd(::openat(trashFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        return fail(errno == ELOOP || errno == ENOTDIR ? EPERM : errno);
    }
    auto status = fileStatusOf(fd.get());
    if (!status || !status->isDirectory() || status->ownerUID != 0 || !isEmpty(fd.get())) {
        return fail(EPERM);
    }
    // A umask may have taken bits away from 0700 (never added any).
    if ((status->mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0) {
        return fail(errno);
    }
    return StagingSubdirectory{std::move(fd), std::move(name), status->id()};
}

bool removeStagingSubdirectory(int trashFd, const StagingSubdirectory& sub) {
    if (!isEmpty(sub.fd.get())) {
        return false;
    }
    auto status = fileStatusAt(trashFd, sub.name);
    if (status && status->id() == sub.id) {
        ::unlinkat(trashFd, sub.name.c_str(), AT_REMOVEDIR);
    }
    return true;
}

}  // namespace kb
