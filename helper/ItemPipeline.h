// The per-item pipeline shared by the path-carrying requests: admission, then for each path
// in request order the policy verdict, the safe opening of the item's directory, the
// identity capture and the restricted-flag test, the caller's authority, then the action.
//
// Authority (helper/Authority.h): for a caller that is not root, every item is classified
// first; when some item lies beyond the caller's own authority, polkit is asked once for
// dev.kestrelbay.helper.manage-files before the first item is acted on. An item beyond the
// caller's authority without that consent is failed(EPERM, strerror(EPERM)); the others are
// still done. Every item acted on or refused is written to the audit trail.
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
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "CleanerCore/policy/PathPolicy.h"
#include "CleanerCore/policy/StatIdentity.h"
#include "HelperProtocol/WireMessages.h"
#include "helper/AuditTrail.h"
#include "helper/Authority.h"
#include "helper/RootFileOps.h"
#include "platform/BeneathResolution.h"

namespace kb {

// An allowed item, ready to be acted on through its directory's descriptor.
struct CapturedItem {
    std::string path;          // as the request gave it
    std::string resolvedPath;  // as the policy resolved it; used for messages only
    ParentDirectory parent;    // the item's directory, opened with no link on the way
    StatIdentity identity;     // captured relative to `parent`
};

// The policy step: the resolved path, or the (logged) policyDenied result.
std::variant<std::string, ItemResult> evaluateItem(const PathPolicy& policy,
                                                   const std::string& path);
// The same for one path of a request whose paths share `parents`.
std::variant<std::string, ItemResult> evaluateItem(const PathPolicy& policy,
                                                   const std::string& path,
                                                   ParentResolutions& parents);

// Opens the directory of `resolvedPath` safely and captures the item's identity. Yields the
// item, or notFound, raceDetected or sipProtected.
std::variant<CapturedItem, ItemOutcome> captureItem(const std::string& path,
                                                    const std::string& resolvedPath);
// The same right after evaluateItem with `parents`: when that evaluation checked that the
// item's directory, as resolved, still is the one the request resolved it to before (no
// link as its last component, same device and inode), that directory's descriptor is lent
// to the item (give it back with parents.giveBack once the item is done); otherwise the
// directory is opened as above.
std::variant<CapturedItem, ItemOutcome> captureItem(const std::string& path,
                                                    const std::string& resolvedPath,
                                                    ParentResolutions& parents);

// Opens the directory of `resolvedPath` safely: raceDetected when a component has become a
// symbolic link, otherwise the system error as failed(errno, strerror).
std::variant<ParentDirectory, ItemOutcome> openResolvedParent(const std::string& resolvedPath);

// failed(errnum, strerror(errnum)).
ItemOutcome failedOutcome(int errnum);

using ItemAction = std::function<ItemResult(CapturedItem&, const RootFileOps&)>;

// What the caller must be to act on an item inside its own home on its own authority.
enum class OwnItems { anyOwner, ownedByCaller };

// The kind of a path-carrying request, as the authority rule and the audit trail see it.
struct ItemRequestKind {
    std::string name;  // the request's name in the audit trail, e.g. "trashItems"
    AuditEvent event = AuditEvent::itemRemoved;
    OwnItems ownItems = OwnItems::ownedByCaller;
};

// Admission, then every path through evaluateItem, captureItem, the authority rule and
// `action`. A refused request answers `error` with the refusal text and touches nothing.
HelperResponse runItemPipeline(const std::vector<std::string>& paths, std::uint32_t uid,
                               const ItemAction& action, const ItemRequestKind& kind,
                               RequestAuthority& authority);

// True when the caller may act on an item of account `uid` at `resolvedPath`, owned by
// `itemOwner` (nothing: the owner does not matter), without anyone's consent. `home` is the
// caller's ownHome.
bool withinOwnAuthority(const RequestAuthority& authority, const std::optional<std::string>& home,
                        std::uint32_t uid, const std::string& resolvedPath,
                        std::optional<std::uint32_t> itemOwner);

// The audit trail's text for an outcome: "ok", "notFound", "policyDenied", "sipProtected",
// "raceDetected" or "failed: errno N (TEXT)".
std::string auditOutcome(const ItemOutcome& outcome);

// failed(EPERM, strerror(EPERM)): an item refused for want of consent.
ItemOutcome notAuthorizedOutcome();

}  // namespace kb
