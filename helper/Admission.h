// Account admission for the path-carrying requests (trash, remove, clear protection,
// restore): the request's account context and its path policy, or a refusal.
//
// A request is admitted when it carries 1 to maximumPathsPerRequest paths, its uid is at
// least HelperValidation::minimumUserUID and the password database has an entry for the uid
// with a home directory. Nothing is touched by admission. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CleanerCore/policy/PathPolicy.h"
#include "helper/RootFileOps.h"

namespace kb {

inline constexpr std::size_t maximumPathsPerRequest = 10000;

struct AdmittedRequest {
    RootFileOps ops;    // uid, the account's primary gid, its normalized home directory
    PathPolicy policy;  // for the account's home, with no user-protected paths
};

// Single-path requests pass a one-element array.
std::optional<AdmittedRequest> admitRequest(const std::vector<std::string>& paths,
                                            std::uint32_t uid);

// The text of the `error` response when admitRequest refuses; it looks only at the number
// of paths.
std::string refusalMessage(const std::vector<std::string>& paths, std::uint32_t uid);

}  // namespace kb
