// Why the path policy refused a path: a plain value with a user-facing description and a
// JSON form ({"deniedRoot":{"_0":"/etc"}}, {"unresolvable":{"errno":13}}, ...).
//
// This header is self-contained (everything inline) because the error type of the domain
// library embeds a reason and must not depend on the policy's implementation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>

#include "base/Hashing.h"
#include "base/Overloaded.h"
#include "json/JsonCodec.h"

namespace kb {

struct PolicyReason {
    struct EmptyPath {
        bool operator==(const EmptyPath&) const = default;
    };
    struct NotAbsolute {
        bool operator==(const NotAbsolute&) const = default;
    };
    struct ContainsParentReference {
        bool operator==(const ContainsParentReference&) const = default;
    };
    struct ContainsControlCharacters {
        bool operator==(const ContainsControlCharacters&) const = default;
    };
    struct DeniedRoot {
        std::string root;
        bool operator==(const DeniedRoot&) const = default;
    };
    struct DeniedSubtree {
        std::string subtree;
        bool operator==(const DeniedSubtree&) const = default;
    };
    struct ProtectedLocation {
        std::string location;
        bool operator==(const ProtectedLocation&) const = default;
    };
    struct UserProtected {
        std::string entry;
        bool operator==(const UserProtected&) const = default;
    };
    // `underlying` is the description of the reason the resolved path was denied for.
    struct SymlinkEscape {
        std::string resolved;
        std::string underlying;
        bool operator==(const SymlinkEscape&) const = default;
    };
    struct Unresolvable {
        std::int32_t errnum = 0;  // "errno" in JSON
        bool operator==(const Unresolvable&) const = default;
    };

    std::variant<EmptyPath, NotAbsolute, ContainsParentReference, ContainsControlCharacters,
                 DeniedRoot, DeniedSubtree, ProtectedLocation, UserProtected, SymlinkEscape,
                 Unresolvable>
        kind;

    static PolicyReason emptyPath() { return {EmptyPath{}}; }
    static PolicyReason notAbsolute() { return {NotAbsolute{}}; }
    static PolicyReason containsParentReference() { return {ContainsParentReference{}}; }
    static PolicyReason containsControlCharacters() { return {ContainsControlCharacters{}}; }
    static PolicyReason deniedRoot(std::string root) { return {DeniedRoot{std::move(root)}}; }
    static PolicyReason deniedSubtree(std::string subtree) {
        return {DeniedSubtree{std::move(subtree)}};
    }
    static PolicyReason protectedLocation(std::string location) {
        return {ProtectedLocation{std::move(location)}};
    }
    static PolicyReason userProtected(std::string entry) {
        return {UserProtected{std::move(entry)}};
    }
    static PolicyReason symlinkEscape(std::string resolved, std::string underlying) {
        return {SymlinkEscape{std::move(resolved), std::move(underlying)}};
    }
    static PolicyReason unresolvable(std::int32_t errnum) { return {Unresolvable{errnum}}; }

    // The text users see, e.g. "'/etc' is a protected root".
    std::string description() const {
        using R = PolicyReason;
        return std::visit(
            Overloaded{
                [](const R::EmptyPath&) -> std::string { return "empty path"; },
                [](const R::NotAbsolute&) -> std::string { return "path is not absolute"; },
                [](const R::ContainsParentReference&) -> std::string {
                    return "path contains '..'";
                },
                [](const R::ContainsControlCharacters&) -> std::string {
                    return "path contains control characters";
                },
                [](const R::DeniedRoot& v) { return "'" + v.root + "' is a protected root"; },
                [](const R::DeniedSubtree& v) {
                    return "inside protected subtree '" + v.subtree + "'";
                },
                [](const R::ProtectedLocation& v) {
                    return "protected location '" + v.location + "'";
                },
                [](const R::UserProtected& v) {
                    return "protected by user whitelist '" + v.entry + "'";
                },
                [](const R::SymlinkEscape& v) {
                    return "resolves to '" + v.resolved + "' which is denied (" + v.underlying +
                           ")";
                },
                [](const R::Unresolvable& v) {
                    return "cannot resolve path (errno " + std::to_string(v.errnum) + ")";
                },
            },
            kind);
    }

    bool operator==(const PolicyReason&) const = default;
};

}  // namespace kb

template <>
struct std::hash<kb::PolicyReason> {
    std::size_t operator()(const kb::PolicyReason& reason) const {
        using R = kb::PolicyReason;
        std::size_t seed = reason.kind.index();
        std::visit(kb::Overloaded{
                       [](const R::EmptyPath&) {},
                       [](const R::NotAbsolute&) {},
                       [](const R::ContainsParentReference&) {},
                       [](const R::ContainsControlCharacters&) {},
                       [&](const R::DeniedRoot& v) { kb::hashCombine(seed, v.root); },
                       [&](const R::DeniedSubtree& v) { kb::hashCombine(seed, v.subtree); },
                       [&](const R::ProtectedLocation& v) { kb::hashCombine(seed, v.location); },
                       [&](const R::UserProtected& v) { kb::hashCombine(seed, v.entry); },
                       [&](const R::SymlinkEscape& v) {
                           kb::hashCombine(seed, v.resolved);
                           kb::hashCombine(seed, v.underlying);
                       },
                       [&](const R::Unresolvable& v) { kb::hashCombine(seed, v.errnum); },
                   },
                   reason.kind);
        return seed;
    }
};

namespace kb::json {

template <>
struct Codec<PolicyReason> {
    static boost::json::value encode(const PolicyReason& value) {
        using R = PolicyReason;
        return std::visit(
            Overloaded{
                [](const R::EmptyPath&) { return makeCase("emptyPath"); },
                [](const R::NotAbsolute&) { return makeCase("notAbsolute"); },
                [](const R::ContainsParentReference&) {
                    return makeCase("containsParentReference");
                },
                [](const R::ContainsControlCharacters&) {
                    return makeCase("containsControlCharacters");
                },
                [](const R::DeniedRoot& v) {
                    return makeCase("deniedRoot", FieldWriter().field("_0", v.root).take());
                },
                [](const R::DeniedSubtree& v) {
                    return makeCase("deniedSubtree", FieldWriter().field("_0", v.subtree).take());
                },
                [](const R::ProtectedLocation& v) {
                    return makeCase("protectedLocation",
                                    FieldWriter().field("_0", v.location).take());
                },
                [](const R::UserProtected& v) {
                    return makeCase("userProtected", FieldWriter().field("_0", v.entry).take());
                },
                [](const R::SymlinkEscape& v) {
                    return makeCase("symlinkEscape", FieldWriter()
                                                         .field("resolved", v.resolved)
                                                         .field("underlying", v.underlying)
                                                         .take());
                },
                [](const R::Unresolvable& v) {
                    return makeCase("unresolvable", FieldWriter().field("errno", v.errnum).take());
                },
            },
            value.kind);
    }

    static PolicyReason decode(const boost::json::value& value) {
        const auto c =
            caseOf(value,
                   {"emptyPath", "notAbsolute", "containsParentReference",
                    "containsControlCharacters", "deniedRoot", "deniedSubtree", "protectedLocation",
                    "userProtected", "symlinkEscape", "unresolvable"},
                   "PolicyReason");
        const FieldReader r(*c.body, c.name);
        if (c.name == "emptyPath") {
            return PolicyReason::emptyPath();
        }
        if (c.name == "notAbsolute") {
            return PolicyReason::notAbsolute();
        }
        if (c.name == "containsParentReference") {
            return PolicyReason::containsParentReference();
        }
        if (c.name == "containsControlCharacters") {
            return PolicyReason::containsControlCharacters();
        }
        if (c.name == "deniedRoot") {
            return PolicyReason::deniedRoot(r.required<std::string>("_0"));
        }
        if (c.name == "deniedSubtree") {
            return PolicyReason::deniedSubtree(r.required<std::string>("_0"));
        }
        if (c.name == "protectedLocation") {
            return PolicyReason::protectedLocation(r.required<std::string>("_0"));
        }
        if (c.name == "userProtected") {
            return PolicyReason::userProtected(r.required<std::string>("_0"));
        }
        if (c.name == "symlinkEscape") {
            return PolicyReason::symlinkEscape(r.required<std::string>("resolved"),
                                               r.required<std::string>("underlying"));
        }
        return PolicyReason::unresolvable(r.required<std::int32_t>("errno"));
    }
};

}  // namespace kb::json
