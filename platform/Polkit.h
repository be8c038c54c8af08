// Asks polkit whether a process may perform an action: one call of
// org.freedesktop.PolicyKit1.Authority.CheckAuthorization on the system bus (sd-bus).
//
// The process is named as a "unix-process" subject by its pid, its start in clock ticks
// after boot and its uid (polkit refuses the call when the pid now belongs to a process
// that started at another time). The call allows user interaction, so an authentication
// agent in the subject's session may ask for a password; the call is bounded by a time-out.
// Only an answer "authorized" (not a challenge) counts as yes; callers treat every error as
// no. Thread-safe: each call uses a bus connection of its own. Never logs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "base/Result.h"

namespace kb {

struct PolkitSubject {
    pid_t pid = 0;
    std::uint64_t startTicks = 0;  // /proc/PID/stat field 22
    std::uint32_t uid = 0;
};

enum class PolkitAnswer { authorized, notAuthorized };

struct PolkitQuery {
    std::string actionId;
    std::chrono::milliseconds timeout{15'000};
    // The bus to ask; empty means the system bus.
    std::string busAddress;
};

// The answer, or a text naming what failed (the bus unreachable, polkit absent, the time-out,
// a malformed reply).
Result<PolkitAnswer, std::string> checkAuthorization(const PolkitSubject& subject,
                                                     const PolkitQuery& query);

}  // namespace kb
