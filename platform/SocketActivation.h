// Sockets passed by the service manager (socket activation, LISTEN_FDS).
#pragma once

#include <optional>
#include <string>

#include "base/Result.h"
#include "platform/UniqueFd.h"

namespace kb::SocketActivation {

// Why the passed sockets cannot be used; `describe()` is a sentence for the log.
struct PassedSocketError {
    std::string text;
    const std::string& describe() const { return text; }
};

// The one listening Unix stream socket the service manager passed, or nullopt when none
// was passed. More than one descriptor, or one of another kind, is an error (its text says
// which). The LISTEN_* variables are removed from the environment either way.
Result<std::optional<UniqueFd>, PassedSocketError> takeListeningSocket();

}  // namespace kb::SocketActivation
