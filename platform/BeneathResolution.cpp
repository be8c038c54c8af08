#include "platform/BeneathResolution.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace kb {

Result<UniqueFd, SystemError> openNoSymlinks(int dirFd, const std::string& path, int flags) {
    struct open_how how {};
    how.flags = static_cast<__u64>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS;
    for (int attempt = 0;; ++attempt) {
        const long fd = ::syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
        if (fd >= 0) {
            return UniqueFd(static_cast<int>(fd));
        }
        // EAGAIN: a concurrent rename disturbed the lookup; the kernel asks for a retry.
        if ((errno == EINTR || errno == EAGAIN) && attempt < 16) {
            continue;
        }
        return fail(systemError("openat2", path));
    }
}

Result<ParentDirectory, SystemError> openParentDirectory(const std::string& absolutePath) {
    const auto slash = absolutePath.find_last_of('/');
    if (absolutePath.empty() || absolutePath.front() != '/' || slash == std::string::npos) {
        return fail(systemError(EINVAL, "open parent", absolutePath));
    }
    std::string name = absolutePath.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return fail(systemError(EINVAL, "open parent", absolutePath));
    }
    const std::string parent = slash == 0 ? "/" : absolutePath.substr(0, slash);
    auto fd = openNoSymlinks(AT_FDCWD, parent, O_PATH | O_DIRECTORY);
    if (!fd) {
        return fail(fd.error());
    }
    return ParentDirectory{std::move(*fd), std::move(name)};
}

}  // namespace kb
