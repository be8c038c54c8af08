#include "platform/UnixSocket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace kb::UnixSocket {
namespace {

Result<sockaddr_un, SystemError> addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return fail(systemError(ENAMETOOLONG, "socket address", path));
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

}  // namespace

Result<UniqueFd, SystemError> listenOnPath(const std::string& path, mode_t mode, int backlog) {
    auto address = addressOf(path);
    if (!address) {
        return fail(address.error());
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            return fail(systemError(EEXIST, "bind", path));
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return fail(systemError("unlink", path));
        }
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return fail(systemError("socket", path));
    }
    // Bind with a private mode, then widen it: no moment exists where the file is reachable
    // with a mode other than the ones chosen here.
    const mode_t previous = ::umask(0077);
    const int bound =
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(sockaddr_un));
    const int bindErrno = errno;
    ::umask(previous);
    if (bound != 0) {
        return fail(systemError(bindErrno, "bind", path));
    }
    if (::chmod(path.c_str(), mode) != 0) {
        return fail(systemError("chmod", path));
    }
    if (::listen(fd.get(), backlog) != 0) {
        return fail(systemError("listen", path));
    }
    return fd;
}

Result<UniqueFd, SystemError> connectToPath(const std::string& path) {
    auto address = addressOf(path);
    if (!address) {
        return fail(address.error());
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
        return fail(systemError("socket", path));
    }
    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(sockaddr_un));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return fail(systemError("connect", path));
    }
    return fd;
}

std::string boundPath(int fd) {
    sockaddr_un address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        length <= offsetof(sockaddr_un, sun_path) || address.sun_path[0] == '\0') {
        return {};
    }
    const size_t max = length - offsetof(sockaddr_un, sun_path);
    return std::string(address.sun_path, ::strnlen(address.sun_path, max));
}

Result<void, SystemError> sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(systemError("send"));
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return {};
}

}  // namespace kb::UnixSocket
