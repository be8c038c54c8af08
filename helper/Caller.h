// Who asked for a request: the peer process of a service connection, as the kernel vouches
// for it, or the process that runs one-shot mode. Every request is performed for a Caller;
// its uid decides what the request may do without an administrator's consent, and its
// facts name it in the audit trail. A plain value, cheap to copy; the pidfd (when known)
// is shared by every copy and closed with the last one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/UniqueFd.h"

namespace kb {

struct Caller {
    pid_t pid = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::string executable;                 // the executable's path, for log lines only
    std::shared_ptr<const UniqueFd> pidfd;  // pins the process; null when not known

    // The calling process itself (one-shot mode; tests that act as root).
    static Caller currentProcess();
};

}  // namespace kb
