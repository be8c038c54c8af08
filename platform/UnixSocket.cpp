#include "platform/UnixSocket.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace kb::UnixSocket {
namespace {

Result<sockaddr_un, SystemError> addressOf(std::string_view path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return fail(systemError(ENAMETOOLONG, "socket address", std::string(path)));
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

}  // namespace

Result<UniqueFd, SystemError> listenOnPath(const std::string& path, mode_t mode, int backlog,
                                           std::optional<gid_t> group) {
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
    if (group && ::chown(path.c_str(), static_cast<uid_t>(-1), *group) != 0) {
        return fail(systemError("chown", path));
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

Result<void, SystemError> sendDatagram(int fd, std::string_view address, std::string_view bytes) {
    auto to = addressOf(address);
    if (!to) {
        return fail(to.error());
    }
    // An abstract name starts with a NUL and has no terminating one.
    const bool abstract = address.front() == '@';
    if (abstract) {
        to->sun_path[0] = '\0';
    }
    iovec part{const_cast<char*>(bytes.data()), bytes.size()};
    msghdr message{};
    message.msg_name = &*to;
    message.msg_namelen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() +
                                                 (abstract ? 0 : 1));
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    while (::sendmsg(fd, &message, MSG_NOSIGNAL) < 0) {
        if (errno != EINTR) {
            return fail(systemError("sendmsg", std::string(address)));
        }
    }
    return {};
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

Result<void, SystemError> sendAll(int fd, std::string_view bytes,
                                  std::chrono::steady_clock::time_point deadline) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return fail(systemError("send"));
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return fail(systemError(ETIMEDOUT, "send"));
        }
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, static_cast<int>(std::min<long long>(left.count(), 60'000))) < 0 &&
            errno != EINTR) {
            return fail(systemError("poll"));
        }
    }
    return {};
}

Result<void, SystemError> enableSenderCredentials(int fd) {
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
        return fail(systemError("setsockopt SO_PASSCRED"));
    }
    return {};
}

Result<Received, SystemError> receiveFromSender(int fd, char* buffer, size_t capacity) {
    iovec data{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return fail(systemError("recvmsg"));
    }
    Received received;
    received.size = static_cast<size_t>(n);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET) {
            continue;
        }
        if (c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred credentials;
            std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
            received.sender.pid = credentials.pid;
            received.sender.uid = credentials.uid;
            received.sender.gid = credentials.gid;
        } else if (c->cmsg_type == SCM_RIGHTS) {
            // Descriptors are never part of the protocol: close whatever was passed.
            const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int passed;
                std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
                ::close(passed);
            }
        }
    }
    if ((message.msg_flags & MSG_CTRUNC) != 0) {
        // Something unexpected came with the bytes: trust none of it.
        received.sender = Sender{};
    }
    return received;
}

size_t bytesWaiting(int fd) {
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0 || count < 0) {
        return 0;
    }
    return static_cast<size_t>(count);
}

}  // namespace kb::UnixSocket
