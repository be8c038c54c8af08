#include "helper/StagingDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>

#include "helper/Logger.h"

namespace kb {
namespace {

bool conforming(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == 0 && (st.st_mode & 07777) == 0700;
}

}  // namespace

Result<UniqueFd, int> claimStagingDirectory(const std::string& path) {
    bool firstAttempt = true;
    int rc = ::mkdir(path.c_str(), 0700);
    for (;;) {
        if (rc != 0 && errno != EEXIST) {
            return fail(errno);
        }
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fd) {
            struct stat st {};
            if (::fstat(fd.get(), &st) != 0) {
                return fail(errno);
            }
            if (conforming(st)) {
                return fd;
            }
        } else if (errno != ELOOP && errno != ENOTDIR) {
            return fail(errno);
        }
        if (!firstAttempt) {
            operationsLogger().fault("cannot claim " + path);
            return fail(EPERM);
        }
        operationsLogger().fault(path + " was not ours; replacing it");
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            return fail(errno);
        }
        if ((S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) != 0) {
            return fail(errno);
        }
        firstAttempt = false;
        rc = ::mkdir(path.c_str(), 0700);
    }
}

Result<StagingSubdirectory, int> makeStagingSubdirectory(int stagingFd) {
    uuid_t uuid;
    ::uuid_generate_random(uuid);
    char text[37];
    ::uuid_unparse_upper(uuid, text);
    if (::mkdirat(stagingFd, text, 0700) != 0) {
        return fail(errno);
    }
    UniqueFd fd(::openat(stagingFd, text, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        const int e = errno;
        ::unlinkat(stagingFd, text, AT_REMOVEDIR);
        return fail(e);
    }
    return StagingSubdirectory{std::move(fd), text};
}

}  // namespace kb
