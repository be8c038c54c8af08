// Runs a program as a real child process and collects what it wrote and how it ended.
// For tests only: output kept whole in memory; a child that never ends is left to the test
// runner's time-out.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace kb::testing {

struct ChildResult {
    int exitStatus = -1;  // exit status, or 128 + the signal that ended it
    std::string out;
    std::string err;
};

enum class Tracing { none, tracedByRoot };

struct Credentials {
    uid_t uid = 0;
    gid_t gid = 0;
};

struct ChildOptions {
    // Who the child runs as (supplementary groups cleared); this process's identity if none.
    std::optional<Credentials> as = std::nullopt;
    Tracing tracing = Tracing::none;
};

ChildResult runChild(const std::vector<std::string>& argv, const std::string& input = {},
                     const ChildOptions& options = {});

}  // namespace kb::testing
