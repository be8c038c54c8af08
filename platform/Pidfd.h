// Process file descriptors. A pidfd stays bound to the one process it was opened for: once
// that process has ended, signalling through it fails with ESRCH even if its pid has been
// given to another process meanwhile.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "base/Result.h"
#include "platform/SystemError.h"
#include "platform/UniqueFd.h"

namespace kb {

// Opens a close-on-exec pidfd for the running process (thread-group leader) `pid`.
// Fails with ESRCH when there is none, EINVAL for a pid that names a thread.
Result<UniqueFd, SystemError> openPidfd(pid_t pid);

// Sends `signal` to the process behind `pidfd`.
Result<void, SystemError> signalPidfd(const UniqueFd& pidfd, int signal);

// How a child ended: its exit code, or the number of the signal that ended it.
struct ChildEnd {
    bool signalled = false;
    std::int32_t code = 0;
    bool operator==(const ChildEnd&) const = default;
};

// Blocks until the child behind `pidfd` (a child of this process) has ended, and reaps it.
// Retries on EINTR.
Result<ChildEnd, SystemError> reapPidfd(const UniqueFd& pidfd);

}  // namespace kb
