// The client's side of a helper connection in tests: frames read from a real socket.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <optional>
#include <string>

#include "HelperProtocol/WireFraming.h"

namespace kb::testing {

// The next frame's body from `fd`, or nullopt at the end of the stream (a test failure for a
// frame the helper should never have written).
inline std::optional<std::string> nextFrame(int fd, WireFraming::FrameReader& reader) {
    for (;;) {
        auto body = reader.next();
        if (!body.ok()) {
            ADD_FAILURE() << "bad frame from the helper";
            return std::nullopt;
        }
        if (body->has_value()) {
            return **body;
        }
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return std::nullopt;
        }
        reader.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace kb::testing
