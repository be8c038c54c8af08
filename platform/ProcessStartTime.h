// When a process started, in whole seconds since the epoch. The application reads it when
// it inspects a process and the helper reads it again right before signalling; both sides
// call this same function so that the values agree.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kb {

// The start time of the running process `pid`, or nothing when there is no such process,
// it has already exited (a zombie counts as exited) or its record cannot be read.
// Computed as the boot time plus the process's start in clock ticks after boot, rounded
// down to whole seconds. Thread-safe.
std::optional<std::uint64_t> processStartTime(pid_t pid);

// The whole text of a /proc file (read until end of file); nothing when it cannot be
// opened or read.
std::optional<std::string> readProcFile(const std::string& path);

// The pieces, exposed for tests: the start in clock ticks after boot from the text of a
// process's stat record (nothing for a zombie or a malformed record), and the boot time
// from the text of the system's stat record.
std::optional<std::uint64_t> startTicksFromStat(std::string_view statText);
std::optional<std::uint64_t> bootTimeFromSystemStat(std::string_view systemStatText);

}  // namespace kb
