// The one place where errno becomes an error value.
//
// A SystemError names the failing step ("open", "renameat2", ...), the path it acted on
// (may be empty) and the error number. message() gives strerror's text alone, which is
// what the wire carries; describe() gives "step path: text" for logs.
#pragma once

#include <string>

namespace kb {

struct SystemError {
    int code = 0;
    std::string step;
    std::string path;

    std::string message() const;
    std::string describe() const;

    bool operator==(const SystemError&) const = default;
};

// Captures the current errno. Call it right after the failing call.
SystemError systemError(std::string step, std::string path = {});

// Same, with an explicit error number (for calls that return it, like posix_spawn).
SystemError systemError(int code, std::string step, std::string path = {});

// strerror_r's text for an error number, thread-safe.
std::string errorText(int code);

}  // namespace kb
