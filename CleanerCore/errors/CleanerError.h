// The one error type of the domain library: a plain value (compared and hashed by case and
// every payload field) with a fixed English message per case and a JSON form with one key,
// the case name ({"io":{"path":"/x","errno":13}}, {"cancelled":{}}).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "CleanerCore/errors/PolicyReason.h"
#include "CleanerCore/errors/RequiredPermission.h"
#include "json/JsonCodec.h"

namespace kb {

struct CleanerError {
    struct PolicyDenied {
        std::string path;
        PolicyReason reason;
        bool operator==(const PolicyDenied&) const = default;
    };
    struct SipProtected {
        std::string path;
        bool operator==(const SipProtected&) const = default;
    };
    struct InUse {
        std::string path;
        std::vector<std::int32_t> pids;
        bool operator==(const InUse&) const = default;
    };
    struct PermissionDenied {
        std::string path;
        RequiredPermission needs = RequiredPermission::fullDiskAccess;
        bool operator==(const PermissionDenied&) const = default;
    };
    struct HelperUnavailable {
        std::string cause;  // "_0" in JSON
        bool operator==(const HelperUnavailable&) const = default;
    };
    struct HelperTimeout {
        bool operator==(const HelperTimeout&) const = default;
    };
    struct RaceDetected {
        std::string path;
        bool operator==(const RaceDetected&) const = default;
    };
    struct NotFound {
        std::string path;
        bool operator==(const NotFound&) const = default;
    };
    struct Io {
        std::string path;
        std::int32_t errnum = 0;  // "errno" in JSON
        bool operator==(const Io&) const = default;
    };
    struct InvalidArgument {
        std::string what;  // "_0" in JSON
        bool operator==(const InvalidArgument&) const = default;
    };
    struct Cancelled {
        bool operator==(const Cancelled&) const = default;
    };

    std::variant<PolicyDenied, SipProtected, InUse, PermissionDenied, HelperUnavailable,
                 HelperTimeout, RaceDetected, NotFound, Io, InvalidArgument, Cancelled>
        kind;

    static CleanerError policyDenied(std::string path, PolicyReason reason) {
        return {PolicyDenied{std::move(path), std::move(reason)}};
    }
    static CleanerError sipProtected(std::string path) { return {SipProtected{std::move(path)}}; }
    static CleanerError inUse(std::string path, std::vector<std::int32_t> pids) {
        return {InUse{std::move(path), std::move(pids)}};
    }
    static CleanerError permissionDenied(std::string path, RequiredPermission needs) {
        return {PermissionDenied{std::move(path), needs}};
    }
    static CleanerError helperUnavailable(std::string cause) {
        return {HelperUnavailable{std::move(cause)}};
    }
    static CleanerError helperTimeout() { return {HelperTimeout{}}; }
    static CleanerError raceDetected(std::string path) { return {RaceDetected{std::move(path)}}; }
    static CleanerError notFound(std::string path) { return {NotFound{std::move(path)}}; }
    static CleanerError io(std::string path, std::int32_t errnum) {
        return {Io{std::move(path), errnum}};
    }
    static CleanerError invalidArgument(std::string what) {
        return {InvalidArgument{std::move(what)}};
    }
    static CleanerError cancelled() { return {Cancelled{}}; }

    // The user-facing message, e.g. "/x: Permission denied (13)". Never fails.
    std::string userMessage() const;

    bool operator==(const CleanerError&) const = default;
};

}  // namespace kb

template <>
struct std::hash<kb::CleanerError> {
    std::size_t operator()(const kb::CleanerError& error) const;
};

namespace kb::json {

template <>
struct Codec<CleanerError> {
    static boost::json::value encode(const CleanerError& value);
    static CleanerError decode(const boost::json::value& value);
};

}  // namespace kb::json
