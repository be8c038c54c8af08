#include "platform/ProcessStartTime.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

#include "platform/UniqueFd.h"

namespace kb {

std::optional<std::string> readProcFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            return text;
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

namespace {

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::uint64_t> startTicksFromStat(std::string_view statText) {
    // "PID (COMM) STATE PPID ...": the command name may hold spaces and parentheses, so
    // the fields are counted from the last ')'. The state is field 3, the start field 22.
    const size_t close = statText.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = statText.substr(close + 1);
    int field = 2;
    while (!rest.empty()) {
        const size_t begin = rest.find_first_not_of(" \n");
        if (begin == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(begin);
        const size_t end = rest.find_first_of(" \n");
        const std::string_view token = rest.substr(0, end);
        ++field;
        if (field == 3 && (token == "Z" || token == "X")) {
            return std::nullopt;
        }
        if (field == 22) {
            return parseUnsigned(token);
        }
        rest.remove_prefix(token.size());
    }
    return std::nullopt;
}

std::optional<std::uint64_t> bootTimeFromSystemStat(std::string_view systemStatText) {
    constexpr std::string_view key = "btime ";
    size_t at = 0;
    while (at < systemStatText.size()) {
        const size_t lineEnd = systemStatText.find('\n', at);
        const std::string_view line = systemStatText.substr(
            at, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - at);
        if (line.starts_with(key)) {
            return parseUnsigned(line.substr(key.size()));
        }
        if (lineEnd == std::string_view::npos) {
            break;
        }
        at = lineEnd + 1;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> processStartTime(pid_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    const auto stat = readProcFile("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) {
        return std::nullopt;
    }
    const auto ticks = startTicksFromStat(*stat);
    const auto system = readProcFile("/proc/stat");
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (!ticks || !system || ticksPerSecond <= 0) {
        return std::nullopt;
    }
    const auto boot = bootTimeFromSystemStat(*system);
    if (!boot) {
        return std::nullopt;
    }
    const std::uint64_t start = *boot + *ticks / static_cast<std::uint64_t>(ticksPerSecond);
    if (start < 1) {
        return std::nullopt;
    }
    return start;
}

}  // namespace kb
