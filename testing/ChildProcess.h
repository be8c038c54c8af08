// Runs a program as a real child process and collects what it wrote and how it ended.
// For tests only: output read whole; a child still running after 300 s is killed (its
// standard error then says so).
#pragma once

#include <string>
#include <vector>

namespace kb::testing {

struct ChildResult {
    int exitStatus = -1;  // exit status, or -1 when killed by a signal
    int signal = 0;       // the terminating signal, if any
    std::string out;
    std::string err;
};

ChildResult runChild(const std::vector<std::string>& argv, const std::string& input = {});

}  // namespace kb::testing
