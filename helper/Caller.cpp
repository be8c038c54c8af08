#include "helper/Caller.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <array>

namespace kb {

Caller Caller::currentProcess() {
    Caller caller;
    caller.pid = ::getpid();
    caller.uid = ::getuid();
    caller.gid = ::getgid();
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length > 0) {
        caller.executable.assign(buffer.data(), static_cast<size_t>(length));
    }
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, caller.pid, 0));
    if (fd >= 0) {
        caller.pidfd = std::make_shared<const UniqueFd>(fd);
    }
    return caller;
}

}  // namespace kb
