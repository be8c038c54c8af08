// What a finished external command left behind: how it ended and everything it wrote.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Hashing.h"

namespace kb {

// How the child ended: by exiting, or by a signal it did not handle.
enum class TerminationReason { exit, uncaughtSignal };

struct ProcessOutput {
    // The exit code, or for a child ended by a signal, the signal's number; `termination`
    // tells the two apart (an exit code 9 is not SIGKILL).
    std::int32_t status = 0;
    TerminationReason termination = TerminationReason::exit;
    // Raw bytes of standard output and standard error (named so because the C library
    // claims `stdout` and `stderr` as macros).
    std::string stdoutBytes;
    std::string stderrBytes;

    // The streams as UTF-8 text, every invalid sequence replaced by U+FFFD. Never fail.
    std::string stdoutText() const;
    std::string stderrText() const;

    bool operator==(const ProcessOutput&) const = default;
};

// Decodes `bytes` as UTF-8, replacing each maximal invalid subsequence with U+FFFD.
std::string decodeUtf8Lossy(std::string_view bytes);

}  // namespace kb

template <>
struct std::hash<kb::ProcessOutput> {
    std::size_t operator()(const kb::ProcessOutput& output) const {
        std::size_t seed = 0;
        kb::hashCombine(seed, output.status);
        kb::hashCombine(seed, output.termination);
        kb::hashCombine(seed, output.stdoutBytes);
        kb::hashCombine(seed, output.stderrBytes);
        return seed;
    }
};
