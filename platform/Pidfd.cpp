#include "platform/Pidfd.h"

#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kb {

Result<UniqueFd, SystemError> openPidfd(pid_t pid) {
    // Raw system calls: glibc 2.36's <sys/pidfd.h> lacks C linkage for C++. pidfd_open
    // sets close-on-exec by itself.
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u));
    if (fd < 0) {
        return fail(systemError("pidfd_open"));
    }
    return UniqueFd(fd);
}

Result<void, SystemError> signalPidfd(const UniqueFd& pidfd, int signal) {
    if (::syscall(SYS_pidfd_send_signal, pidfd.get(), signal, nullptr, 0u) != 0) {
        return fail(systemError("pidfd_send_signal"));
    }
    return {};
}

Result<ChildEnd, SystemError> reapPidfd(const UniqueFd& pidfd) {
    siginfo_t info{};
    while (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd.get()), &info,
                    WEXITED) != 0) {
        if (errno != EINTR) {
            return fail(systemError("waitid"));
        }
    }
    const bool signalled = info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED;
    return ChildEnd{signalled, info.si_status};
}

}  // namespace kb
