#include "platform/ProcessRecord.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "platform/ProcessStartTime.h"

namespace kb {

std::optional<std::uint64_t> processStartTicks(pid_t pid) {
    const auto text = readProcFile("/proc/" + std::to_string(pid) + "/stat");
    if (!text) {
        return std::nullopt;
    }
    return startTicksFromStat(*text);
}

std::optional<std::uint32_t> processRealUid(pid_t pid) {
    const auto text = readProcFile("/proc/" + std::to_string(pid) + "/status");
    if (!text) {
        return std::nullopt;
    }
    // "Uid:\tREAL\tEFFECTIVE\tSAVED\tFS"
    const size_t line = text->find("\nUid:\t");
    if (line == std::string::npos) {
        return std::nullopt;
    }
    const char* begin = text->data() + line + 6;
    const char* end = text->data() + text->size();
    std::uint32_t uid = 0;
    const auto [stop, ec] = std::from_chars(begin, end, uid);
    if (ec != std::errc() || stop == begin || (stop != end && *stop != '\t')) {
        return std::nullopt;
    }
    return uid;
}

bool pidfdIsAlive(const UniqueFd& pidfd) {
    return ::syscall(SYS_pidfd_send_signal, pidfd.get(), 0, nullptr, 0) == 0;
}

}  // namespace kb
