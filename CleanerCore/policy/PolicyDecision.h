// The path policy's verdict on one path: allowed (with the resolved path to act on) or
// denied (with the reason). A plain value, compared and hashed by value; no JSON form.
#pragma once

#include <functional>
#include <string>
#include <variant>

#include "CleanerCore/errors/PolicyReason.h"
#include "base/Hashing.h"

namespace kb {

struct PolicyDecision {
    struct Allowed {
        std::string resolvedPath;
        bool operator==(const Allowed&) const = default;
    };
    struct Denied {
        PolicyReason reason;
        bool operator==(const Denied&) const = default;
    };

    std::variant<Allowed, Denied> kind;

    static PolicyDecision allowed(std::string resolvedPath) {
        return {Allowed{std::move(resolvedPath)}};
    }
    static PolicyDecision denied(PolicyReason reason) { return {Denied{std::move(reason)}}; }

    bool isAllowed() const { return std::holds_alternative<Allowed>(kind); }
    // The path to act on, or nullptr when denied.
    const std::string* resolvedPath() const {
        const auto* a = std::get_if<Allowed>(&kind);
        return a != nullptr ? &a->resolvedPath : nullptr;
    }
    // The reason, or nullptr when allowed.
    const PolicyReason* reason() const {
        const auto* d = std::get_if<Denied>(&kind);
        return d != nullptr ? &d->reason : nullptr;
    }

    bool operator==(const PolicyDecision&) const = default;
};

}  // namespace kb

template <>
struct std::hash<kb::PolicyDecision> {
    std::size_t operator()(const kb::PolicyDecision& decision) const {
        std::size_t seed = decision.kind.index();
        if (const auto* path = decision.resolvedPath()) {
            kb::hashCombine(seed, *path);
        } else {
            kb::hashCombine(seed, *decision.reason());
        }
        return seed;
    }
};
