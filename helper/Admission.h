// Admission of a request: every rule that decides whether a request may run at all, before
// anything is touched. Thread-safe; nothing here touches the file system.
//
// A path-carrying request (trash, remove, clear protection, restore) is admitted when it
// carries 1 to maximumPathsPerRequest paths, its uid is at least
// HelperValidation::minimumUserUID and the password database has an entry for the uid with a
// home directory; the account is looked up once and both the request's operations and its
// path policy are made from that one entry.
//
// The peer-uid rule: a peer whose uid is not 0 acts only for itself. The authority of an
// admitted request (own, or an administrator's consent) is decided per item by
// helper/Authority.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CleanerCore/policy/PathPolicy.h"
#include "HelperProtocol/WireMessages.h"
#include "helper/RootFileOps.h"

namespace kb {

inline constexpr std::size_t maximumPathsPerRequest = 10000;

struct AdmittedRequest {
    AccountEntry account;  // the request's account, as the password database has it
    RootFileOps ops;       // uid, the account's primary gid, its normalized home directory
    PathPolicy policy;     // for the account's home, with no user-protected paths
};

// Single-path requests pass a one-element array.
std::optional<AdmittedRequest> admitRequest(const std::vector<std::string>& paths,
                                            std::uint32_t uid);

// The text of the `error` response when admitRequest refuses; it looks only at the number
// of paths.
std::string refusalMessage(const std::vector<std::string>& paths, std::uint32_t uid);

// The peer-uid rule for a peer of uid `peerUid`: the `error` text when `request` is a
// path-carrying request with 1 to maximumPathsPerRequest paths naming another uid than the
// peer's (and the peer is not root); nothing otherwise. Requests with no paths or too many
// are left to admitRequest, which refuses them with its own sentence.
std::optional<std::string> peerUidRefusal(const HelperRequest& request, std::uint32_t peerUid);

}  // namespace kb
