#include "platform/SocketActivation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>

#include "platform/SystemError.h"

namespace kb::SocketActivation {

Result<std::optional<UniqueFd>, PassedSocketError> takeListeningSocket() {
    const int count = ::sd_listen_fds(1);
    if (count < 0) {
        return fail(PassedSocketError{"cannot read the passed sockets: " + errorText(-count)});
    }
    if (count == 0) {
        return std::optional<UniqueFd>();
    }
    if (count > 1) {
        for (int i = 0; i < count; ++i) {
            ::close(SD_LISTEN_FDS_START + i);
        }
        return fail(PassedSocketError{"expected one passed socket, got " + std::to_string(count)});
    }
    UniqueFd fd(SD_LISTEN_FDS_START);
    if (::sd_is_socket_unix(fd.get(), SOCK_STREAM, 1, nullptr, 0) <= 0) {
        return fail(
            PassedSocketError{"the passed descriptor is not a listening Unix stream socket"});
    }
    // sd_listen_fds already set close-on-exec.
    return std::optional<UniqueFd>(std::move(fd));
}

}  // namespace kb::SocketActivation
