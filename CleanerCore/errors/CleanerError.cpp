#include "CleanerCore/errors/CleanerError.h"

#include "base/Overloaded.h"
#include "platform/SystemError.h"

namespace kb {

std::string CleanerError::userMessage() const {
    using E = CleanerError;
    return std::visit(
        Overloaded{
            [](const E::PolicyDenied& v) {
                return "Refused to touch " + v.path + ": " + v.reason.description();
            },
            [](const E::SipProtected& v) {
                return v.path + " is protected by System Integrity Protection";
            },
            [](const E::InUse& v) {
                std::string text = v.path + " is in use by processes [";
                for (std::size_t i = 0; i < v.pids.size(); ++i) {
                    if (i > 0) {
                        text += ", ";
                    }
                    text += std::to_string(v.pids[i]);
                }
                return text + "]";
            },
            [](const E::PermissionDenied& v) {
                return v.path + " requires " + std::string(rawValue(v.needs));
            },
            [](const E::HelperUnavailable& v) {
                return "Privileged helper unavailable: " + v.cause;
            },
            [](const E::HelperTimeout&) -> std::string {
                return "Privileged helper did not respond in time";
            },
            [](const E::RaceDetected& v) { return v.path + " changed between check and delete"; },
            [](const E::NotFound& v) { return v.path + " does not exist"; },
            [](const E::Io& v) {
                return v.path + ": " + errorText(v.errnum) + " (" + std::to_string(v.errnum) + ")";
            },
            [](const E::InvalidArgument& v) { return "Invalid argument: " + v.what; },
            [](const E::Cancelled&) -> std::string { return "Cancelled"; },
        },
        kind);
}

}  // namespace kb

std::size_t std::hash<kb::CleanerError>::operator()(const kb::CleanerError& error) const {
    using E = kb::CleanerError;
    std::size_t seed = error.kind.index();
    std::visit(kb::Overloaded{
                   [&](const E::PolicyDenied& v) {
                       kb::hashCombine(seed, v.path);
                       kb::hashCombine(seed, v.reason);
                   },
                   [&](const E::SipProtected& v) { kb::hashCombine(seed, v.path); },
                   [&](const E::InUse& v) {
                       kb::hashCombine(seed, v.path);
                       for (const auto pid : v.pids) {
                           kb::hashCombine(seed, pid);
                       }
                   },
                   [&](const E::PermissionDenied& v) {
                       kb::hashCombine(seed, v.path);
                       kb::hashCombine(seed, v.needs);
                   },
                   [&](const E::HelperUnavailable& v) { kb::hashCombine(seed, v.cause); },
                   [](const E::HelperTimeout&) {},
                   [&](const E::RaceDetected& v) { kb::hashCombine(seed, v.path); },
                   [&](const E::NotFound& v) { kb::hashCombine(seed, v.path); },
                   [&](const E::Io& v) {
                       kb::hashCombine(seed, v.path);
                       kb::hashCombine(seed, v.errnum);
                   },
                   [&](const E::InvalidArgument& v) { kb::hashCombine(seed, v.what); },
                   [](const E::Cancelled&) {},
               },
               error.kind);
    return seed;
}

namespace kb::json {

boost::json::value Codec<CleanerError>::encode(const CleanerError& value) {
    using E = CleanerError;
    return std::visit(
        Overloaded{
            [](const E::PolicyDenied& v) {
                return makeCase(
                    "policyDenied",
                    FieldWriter().field("path", v.path).field("reason", v.reason).take());
            },
            [](const E::SipProtected& v) {
                return makeCase("sipProtected", FieldWriter().field("path", v.path).take());
            },
            [](const E::InUse& v) {
                return makeCase("inUse",
                                FieldWriter().field("path", v.path).field("pids", v.pids).take());
            },
            [](const E::PermissionDenied& v) {
                return makeCase("permissionDenied",
                                FieldWriter().field("path", v.path).field("needs", v.needs).take());
            },
            [](const E::HelperUnavailable& v) {
                return makeCase("helperUnavailable", FieldWriter().field("_0", v.cause).take());
            },
            [](const E::HelperTimeout&) { return makeCase("helperTimeout"); },
            [](const E::RaceDetected& v) {
                return makeCase("raceDetected", FieldWriter().field("path", v.path).take());
            },
            [](const E::NotFound& v) {
                return makeCase("notFound", FieldWriter().field("path", v.path).take());
            },
            [](const E::Io& v) {
                return makeCase(
                    "io", FieldWriter().field("path", v.path).field("errno", v.errnum).take());
            },
            [](const E::InvalidArgument& v) {
                return makeCase("invalidArgument", FieldWriter().field("_0", v.what).take());
            },
            [](const E::Cancelled&) { return makeCase("cancelled"); },
        },
        value.kind);
}

CleanerError Codec<CleanerError>::decode(const boost::json::value& value) {
    const auto c =
        caseOf(value,
               {"policyDenied", "sipProtected", "inUse", "permissionDenied", "helperUnavailable",
                "helperTimeout", "raceDetected", "notFound", "io", "invalidArgument", "cancelled"},
               "CleanerError");
    const FieldReader r(*c.body, c.name);
    if (c.name == "policyDenied") {
        return CleanerError::policyDenied(r.required<std::string>("path"),
                                          r.required<PolicyReason>("reason"));
    }
    if (c.name == "sipProtected") {
        return CleanerError::sipProtected(r.required<std::string>("path"));
    }
    if (c.name == "inUse") {
        return CleanerError::inUse(r.required<std::string>("path"),
                                   r.required<std::vector<std::int32_t>>("pids"));
    }
    if (c.name == "permissionDenied") {
        return CleanerError::permissionDenied(r.required<std::string>("path"),
                                              r.required<RequiredPermission>("needs"));
    }
    if (c.name == "helperUnavailable") {
        return CleanerError::helperUnavailable(r.required<std::string>("_0"));
    }
    if (c.name == "helperTimeout") {
        return CleanerError::helperTimeout();
    }
    if (c.name == "raceDetected") {
        return CleanerError::raceDetected(r.required<std::string>("path"));
    }
    if (c.name == "notFound") {
        return CleanerError::notFound(r.required<std::string>("path"));
    }
    if (c.name == "io") {
        return CleanerError::io(r.required<std::string>("path"), r.required<std::int32_t>("errno"));
    }
    if (c.name == "invalidArgument") {
        return CleanerError::invalidArgument(r.required<std::string>("_0"));
    }
    return CleanerError::cancelled();
}

}  // namespace kb::json
