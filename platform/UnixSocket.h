// Unix stream sockets named by a path.
//
// listenOnPath binds and listens on `path` itself: a stale socket file left there is
// removed first, but any other kind of file makes it fail (EEXIST) and stays untouched.
// The socket file gets `mode` and, when given, `group`; until both are set it is reachable
// by root only. connectToPath connects a blocking client socket. Descriptors are
// close-on-exec.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb::UnixSocket {

Result<UniqueFd, SystemError> listenOnPath(const std::string& path, mode_t mode, int backlog,
                                           std::optional<gid_t> group = std::nullopt);

Result<UniqueFd, SystemError> connectToPath(const std::string& path);

// The path a listening or connected socket is bound to; empty when unnamed.
std::string boundPath(int fd);

// Writes all of `bytes`, retrying on EINTR; never raises SIGPIPE.
Result<void, SystemError> sendAll(int fd, std::string_view bytes);

// The same, giving up with ETIMEDOUT at `deadline` (the socket may then hold part of
// `bytes`). Works on a blocking socket without changing its mode.
Result<void, SystemError> sendAll(int fd, std::string_view bytes,
                                  std::chrono::steady_clock::time_point deadline);

// Sends one datagram, `bytes`, on `fd` (an unconnected SOCK_DGRAM socket) to the socket at
// `address`, a path or "@name" in the abstract namespace. Retries on EINTR; the error is
// sendmsg's (EMSGSIZE: too large for one datagram).
Result<void, SystemError> sendDatagram(int fd, std::string_view address, std::string_view bytes);

// Asks the kernel to attach the sender's credentials to every byte received on `fd`. On a
// listening socket, accepted sockets inherit it.
Result<void, SystemError> enableSenderCredentials(int fd);

// Who wrote bytes received with credentials: the kernel's word, taken at send time. `pid`
// is 0 when the sender has gone or sent before credentials were asked for. No pidfd comes
// with it: the kernel would open a file for every message, the larger part of a small
// request's cost; a pidfd of the process that should be the sender, held from before, tells
// as much (see the connection's check).
struct Sender {
    pid_t pid = 0;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};

struct Received {
    size_t size = 0;  // 0: end of stream
    Sender sender;
};

// One non-blocking recvmsg: never merges bytes of different senders. EAGAIN when nothing
// is waiting.
Result<Received, SystemError> receiveFromSender(int fd, char* buffer, size_t capacity);

// Bytes waiting to be read on a connected socket.
size_t bytesWaiting(int fd);

}  // namespace kb::UnixSocket
