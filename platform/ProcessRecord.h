// Facts about a running process read from its /proc entry. The entry belongs to whichever
// process holds the pid at the moment of the read: callers that pinned a process with a
// pidfd confirm afterwards that it is still alive (pidfdIsAlive), so the facts read are its.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

#include "platform/UniqueFd.h"

namespace kb {

// The process's start in clock ticks after boot (the form polkit names a process by), or
// nothing when there is no such process, it is a zombie or its record cannot be read.
std::optional<std::uint64_t> processStartTicks(pid_t pid);

// The real uid of the process, or nothing when it cannot be read.
std::optional<std::uint32_t> processRealUid(pid_t pid);

// True while the process behind `pidfd` has not ended.
bool pidfdIsAlive(const UniqueFd& pidfd);

}  // namespace kb
