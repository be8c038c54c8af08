#include "testing/ToolScript.h"

#include <sys/stat.h>

#include <sstream>

#include "testing/TempDir.h"

namespace kb::testing {

ToolScript makeToolScript(const std::string& path, const std::string& body) {
    ToolScript script{path, path + ".args"};
    writeFile(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + script.argsPath + "'\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return script;
}

bool ToolScript::ran() const {
    return pathExists(argsPath);
}

std::vector<std::string> ToolScript::lastArguments() const {
    std::vector<std::string> arguments;
    if (!ran()) {
        return arguments;
    }
    std::istringstream lines(readFile(argsPath));
    for (std::string line; std::getline(lines, line);) {
        arguments.push_back(line);
    }
    return arguments;
}

}  // namespace kb::testing
