// The per-item pipeline shared by the path-carrying requests: admission, then for each path
// in request order the policy verdict, the safe opening of the item's directory, the
// identity capture and the restricted-flag test, then the action.
//
// Conventions: a denied path is logged ("refused PATH: REASON", category service) and
// yields policyDenied with the reason's description; an item that is absent or whose
// identity cannot be captured yields notFound; a resolved directory that is no longer
// reachable without a symbolic link (it was swapped for one) yields raceDetected; the
// restricted flag yields sipProtected. Results always name the path as the request gave it.
// Every function is thread-safe; one request's items run one after the other.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "CleanerCore/policy/PathPolicy.h"
#include "CleanerCore/policy/StatIdentity.h"
#include "HelperProtocol/HelperMessages.h"
#include "helper/RootFileOps.h"
#include "platform/Openat2.h"

namespace kb {

// An allowed item, ready to be acted on through its directory's descriptor.
struct CapturedItem {
    std::string path;          // as the request gave it
    std::string resolvedPath;  // as the policy resolved it; used for messages only
    ParentDirectory parent;    // the item's directory, opened with no link on the way
    StatIdentity identity;     // captured relative to `parent`
};

// The policy step: the resolved path, or the (logged) policyDenied result. When
// `stagingDirectory` is given, the helper's own staging directory and everything in it
// (other accounts' items on their way to a Trash) are refused too, as a protected root and
// a protected subtree.
std::variant<std::string, ItemResult> evaluateItem(const PathPolicy& policy,
                                                   const std::string& path,
                                                   const std::string& stagingDirectory = {});

// Opens the directory of `resolvedPath` safely and captures the item's identity. Yields the
// item, or notFound, raceDetected or sipProtected.
std::variant<CapturedItem, ItemOutcome> captureItem(const std::string& path,
                                                    const std::string& resolvedPath);

// Opens the directory of `resolvedPath` safely: raceDetected when a component has become a
// symbolic link, otherwise the system error as failed(errno, strerror).
std::variant<ParentDirectory, ItemOutcome> openResolvedParent(const std::string& resolvedPath);

// failed(errnum, strerror(errnum)).
ItemOutcome failedOutcome(int errnum);

using ItemAction = std::function<ItemResult(CapturedItem&, const RootFileOps&)>;

// Admission, then every path through evaluateItem (with `stagingDirectory`), captureItem and
// `action`. A refused
// request answers `error` with the refusal text and touches nothing.
HelperResponse runItemPipeline(const std::vector<std::string>& paths, std::uint32_t uid,
                               const ItemAction& action, const std::string& stagingDirectory = {});

}  // namespace kb
