// Unix stream sockets named by a path.
//
// listenOnPath binds and listens on `path` itself: a stale socket file left there is
// removed first, but any other kind of file makes it fail (EEXIST) and stays untouched.
// The socket file gets `mode` (0666 for the helper: admission filters peers, not the file
// mode). connectToPath connects a blocking client socket. Descriptors are close-on-exec.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "HelperProtocol/Result.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb::UnixSocket {

Result<UniqueFd, SystemError> listenOnPath(const std::string& path, mode_t mode, int backlog);

Result<UniqueFd, SystemError> connectToPath(const std::string& path);

// The path a listening or connected socket is bound to; empty when unnamed.
std::string boundPath(int fd);

// Writes all of `bytes`, retrying on EINTR; never raises SIGPIPE.
Result<void, SystemError> sendAll(int fd, std::string_view bytes);

}  // namespace kb::UnixSocket
