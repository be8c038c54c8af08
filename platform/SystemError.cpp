#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace kb {

std::string errorText(int code) {
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not be the buffer.
    const char* text = ::strerror_r(code, buffer, sizeof buffer);
    return text;
}

SystemError systemError(std::string step, std::string path) {
    return systemError(errno, std::move(step), std::move(path));
}

SystemError systemError(int code, std::string step, std::string path) {
    return SystemError{code, std::move(step), std::move(path)};
}

std::string SystemError::message() const {
    return errorText(code);
}

std::string SystemError::describe() const {
    std::string text = step;
    if (!path.empty()) {
        text += ' ';
        text += path;
    }
    text += ": ";
    text += message();
    return text;
}

}  // namespace kb
