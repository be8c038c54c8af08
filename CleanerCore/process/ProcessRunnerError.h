// Why an external command produced no output record.
#pragma once

#include <string>
#include <variant>

#include "base/Hashing.h"

namespace kb {

struct ProcessRunnerError {
    // The time-out elapsed first; the child has been killed and reaped.
    struct Timeout {
        std::string executable;
        bool operator==(const Timeout&) const = default;
    };
    // The child could not be started; `message` says why in plain words.
    struct LaunchFailed {
        std::string executable;
        std::string message;
        bool operator==(const LaunchFailed&) const = default;
    };

    std::variant<Timeout, LaunchFailed> kind;

    static ProcessRunnerError timeout(std::string executable) {
        return {Timeout{std::move(executable)}};
    }
    static ProcessRunnerError launchFailed(std::string executable, std::string message) {
        return {LaunchFailed{std::move(executable), std::move(message)}};
    }

    // A sentence for people, as shown after "could not run EXECUTABLE: ".
    std::string description() const;

    bool operator==(const ProcessRunnerError&) const = default;
};

}  // namespace kb

template <>
struct std::hash<kb::ProcessRunnerError> {
    std::size_t operator()(const kb::ProcessRunnerError& error) const {
        std::size_t seed = error.kind.index();
        if (const auto* timeout = std::get_if<kb::ProcessRunnerError::Timeout>(&error.kind)) {
            kb::hashCombine(seed, timeout->executable);
        } else {
            const auto& failed = std::get<kb::ProcessRunnerError::LaunchFailed>(error.kind);
            kb::hashCombine(seed, failed.executable);
            kb::hashCombine(seed, failed.message);
        }
        return seed;
    }
};
