// Small executable shell scripts that stand in for system tools in tests: each records
// its arguments, one a line, in a file beside it, then runs the given body.
#pragma once

#include <string>
#include <vector>

namespace kb::testing {

struct ToolScript {
    std::string path;      // the executable script
    std::string argsPath;  // where each run writes its arguments

    // The arguments of the last run, or nothing if the script never ran.
    std::vector<std::string> lastArguments() const;
    bool ran() const;
};

// Writes "#!/bin/sh" + an argument recorder + `body` to `path` with mode 0755.
ToolScript makeToolScript(const std::string& path, const std::string& body);

}  // namespace kb::testing
