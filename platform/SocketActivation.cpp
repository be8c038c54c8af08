#include "platform/SocketActivation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/SystemError.h"

namespace kb::SocketActivation {
namespace {

// The service manager's protocol: LISTEN_PID names the process the descriptors are for,
// LISTEN_FDS how many there are, from descriptor 3 on.
constexpr int firstPassedFd = 3;
// More than any manager passes, and few enough to close one by one.
constexpr long maximumPassedFds = 4096;

// A whole decimal number, or nullopt.
std::optional<long> number(const char* text) {
    long value = 0;
    const char* end = text + std::strlen(text);
    const auto [at, error] = std::from_chars(text, end, value);
    if (error != std::errc() || at != end || at == text) {
        return std::nullopt;
    }
    return value;
}

bool isListeningUnixStream(int fd) {
    struct stat st;
    int type = 0;
    int listening = 0;
    int domain = 0;
    socklen_t length = sizeof(int);
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) &&
           ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX &&
           ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM &&
           ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening == 1;
}

}  // namespace

Result<std::optional<UniqueFd>, PassedSocketError> takeListeningSocket() {
    const char* pidText = std::getenv("LISTEN_PID");
    const char* countText = std::getenv("LISTEN_FDS");
    const std::optional<long> pid = pidText != nullptr ? number(pidText) : std::nullopt;
    const std::optional<long> count = countText != nullptr ? number(countText) : std::nullopt;
    // Children must not take the descriptors for theirs.
    ::unsetenv("LISTEN_PID");
    ::unsetenv("LISTEN_FDS");
    ::unsetenv("LISTEN_FDNAMES");
    if (pidText == nullptr || countText == nullptr || (pid && *pid != ::getpid())) {
        return std::optional<UniqueFd>();
    }
    if (!pid || !count || *count < 0 || *count > maximumPassedFds) {
        return fail(PassedSocketError{"cannot read the passed sockets: " + errorText(EINVAL)});
    }
    if (*count == 0) {
        return std::optional<UniqueFd>();
    }
    if (*count > 1) {
        for (long i = 0; i < *count; ++i) {
            ::close(firstPassedFd + static_cast<int>(i));
        }
        return fail(PassedSocketError{"expected one passed socket, got " + std::to_string(*count)});
    }
    UniqueFd fd(firstPassedFd);
    if (::fcntl(fd.get(), F_SETFD, FD_CLOEXEC) < 0) {
        return fail(PassedSocketError{"cannot read the passed sockets: " + errorText(errno)});
    }
    if (!isListeningUnixStream(fd.get())) {
        return fail(
            PassedSocketError{"the passed descriptor is not a listening Unix stream socket"});
    }
    return std::optional<UniqueFd>(std::move(fd));
}

}  // namespace kb::SocketActivation
