#include "helper/ItemPipeline.h"

#include <cerrno>

#include "base/Overloaded.h"
#include "helper/Admission.h"
#include "helper/Logger.h"

namespace kb {

ItemOutcome failedOutcome(int errnum) {
    return ItemOutcome::failed(errnum, errorText(errnum));
}

namespace {

std::variant<std::string, ItemResult> verdictOf(const PolicyDecision& decision,
                                                const std::string& path) {
    if (const std::string* resolved = decision.resolvedPath()) {
        return *resolved;
    }
    const std::string reason = decision.reason()->description();
    serviceLogger().notice("refused " + escapeForLog(path) + ": " + escapeForLog(reason));
    return ItemResult{path, ItemOutcome::policyDenied(reason), std::nullopt};
}

// The identity of the item `name` in `directory`, or notFound or sipProtected.
std::variant<StatIdentity, ItemOutcome> identityIn(int directory, const std::string& name,
                                                   const std::string& resolvedPath) {
    auto identity = StatIdentity::capture(directory, name, resolvedPath);
    if (!identity || !identity->has_value()) {
        return ItemOutcome::notFound();
    }
    if ((*identity)->isSIPRestricted()) {
        return ItemOutcome::sipProtected();
    }
    return **identity;
}

}  // namespace

std::variant<std::string, ItemResult> evaluateItem(const PathPolicy& policy,
                                                   const std::string& path) {
    return verdictOf(policy.evaluate(path), path);
}

std::variant<std::string, ItemResult> evaluateItem(const PathPolicy& policy,
                                                   const std::string& path,
                                                   ParentResolutions& parents) {
    return verdictOf(policy.evaluate(path, parents), path);
}

std::variant<ParentDirectory, ItemOutcome> openResolvedParent(const std::string& resolvedPath) {
    auto parent = openParentDirectory(resolvedPath);
    if (!parent) {
        if (parent.error().code == ELOOP) {
            return ItemOutcome::raceDetected();
        }
        return failedOutcome(parent.error().code);
    }
    return std::move(*parent);
}

std::variant<CapturedItem, ItemOutcome> captureItem(const std::string& path,
                                                    const std::string& resolvedPath) {
    auto parent = openResolvedParent(resolvedPath);
    if (auto* outcome = std::get_if<ItemOutcome>(&parent)) {
        // Like a failing lstat of the path: the item cannot be found.
        if (std::holds_alternative<ItemOutcome::Failed>(outcome->kind)) {
            return ItemOutcome::notFound();
        }
        return std::move(*outcome);
    }
    auto& directory = std::get<ParentDirectory>(parent);
    auto identity = identityIn(directory.fd.get(), directory.name, resolvedPath);
    if (auto* outcome = std::get_if<ItemOutcome>(&identity)) {
        return std::move(*outcome);
    }
    return CapturedItem{path, resolvedPath, std::move(directory), std::get<StatIdentity>(identity)};
}

std::variant<CapturedItem, ItemOutcome> captureItem(const std::string& path,
                                                    const std::string& resolvedPath,
                                                    ParentResolutions& parents) {
    const std::size_t slash = resolvedPath.rfind('/');
    if (slash == std::string::npos) {
        return captureItem(path, resolvedPath);
    }
    const std::string_view parent =
        slash == 0 ? std::string_view("/") : std::string_view(resolvedPath).substr(0, slash);
    std::string name = resolvedPath.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return captureItem(path, resolvedPath);
    }
    UniqueFd directory = parents.lendCheckedDirectory(parent);
    if (!directory) {
        return captureItem(path, resolvedPath);
    }
    auto identity = identityIn(directory.get(), name, resolvedPath);
    if (auto* outcome = std::get_if<ItemOutcome>(&identity)) {
        parents.giveBack(std::move(directory));
        return std::move(*outcome);
    }
    return CapturedItem{path, resolvedPath, ParentDirectory{std::move(directory), std::move(name)},
                        std::get<StatIdentity>(identity)};
}

ItemOutcome notAuthorizedOutcome() {
    return failedOutcome(EPERM);
}

std::string auditOutcome(const ItemOutcome& outcome) {
    using O = ItemOutcome;
    return std::visit(Overloaded{
                          [](const O::Ok&) -> std::string { return "ok"; },
                          [](const O::NotFound&) -> std::string { return "notFound"; },
                          [](const O::PolicyDenied&) -> std::string { return "policyDenied"; },
                          [](const O::SipProtected&) -> std::string { return "sipProtected"; },
                          [](const O::RaceDetected&) -> std::string { return "raceDetected"; },
                          [](const O::Failed& f) {
                              return "failed: errno " + std::to_string(f.errnum) + " (" +
                                     f.message + ")";
                          },
                      },
                      outcome.kind);
}

bool withinOwnAuthority(const RequestAuthority& authority, const std::optional<std::string>& home,
                        std::uint32_t uid, const std::string& resolvedPath,
                        std::optional<std::uint32_t> itemOwner) {
    if (authority.callerIsRoot()) {
        return true;
    }
    const std::uint32_t caller = authority.caller().uid;
    return uid == caller && home && liesInside(resolvedPath, *home) &&
           (!itemOwner || *itemOwner == caller);
}

namespace {

std::optional<std::uint32_t> ownerThatMatters(const ItemRequestKind& kind,
                                              const CapturedItem& item) {
    if (kind.ownItems == OwnItems::anyOwner) {
        return std::nullopt;
    }
    return item.identity.ownerUID;
}

// Classifies every item without logging or touching anything: true when some item the
// action would reach lies beyond the caller's own authority.
bool someItemNeedsConsent(const AdmittedRequest& admitted, const std::vector<std::string>& paths,
                          const ItemRequestKind& kind, const RequestAuthority& authority,
                          const std::optional<std::string>& home, ParentResolutions& parents) {
    for (const std::string& path : paths) {
        const PolicyDecision decision = admitted.policy.evaluate(path, parents);
        const std::string* resolved = decision.resolvedPath();
        if (resolved == nullptr) {
            continue;
        }
        auto captured = captureItem(path, *resolved, parents);
        auto* item = std::get_if<CapturedItem>(&captured);
        if (item == nullptr) {
            continue;
        }
        const bool own = withinOwnAuthority(authority, home, admitted.ops.uid, *resolved,
                                            ownerThatMatters(kind, *item));
        parents.giveBack(std::move(item->parent.fd));
        if (!own) {
            return true;
        }
    }
    return false;
}

}  // namespace

HelperResponse runItemPipeline(const std::vector<std::string>& paths, std::uint32_t uid,
                               const ItemAction& action, const ItemRequestKind& kind,
                               RequestAuthority& authority) {
    const auto admitted = admitRequest(paths, uid);
    if (!admitted) {
        return HelperResponse::error(refusalMessage(paths, uid));
    }
    // Paths sharing a parent resolve it once, within this request only.
    ParentResolutions parents;
    std::optional<std::string> home;
    if (!authority.callerIsRoot()) {
        home = ownHome(admitted->account);
        if (someItemNeedsConsent(*admitted, paths, kind, authority, home, parents)) {
            authority.obtain(Consent::manageFiles);
        }
    }
    std::vector<ItemResult> results;
    results.reserve(paths.size());
    for (const std::string& path : paths) {
        auto evaluated = evaluateItem(admitted->policy, path, parents);
        if (auto* denied = std::get_if<ItemResult>(&evaluated)) {
            results.push_back(std::move(*denied));
            continue;
        }
        auto captured = captureItem(path, std::get<std::string>(evaluated), parents);
        if (auto* outcome = std::get_if<ItemOutcome>(&captured)) {
            results.push_back(ItemResult{path, std::move(*outcome), std::nullopt});
            continue;
        }
        auto& item = std::get<CapturedItem>(captured);
        const bool own = withinOwnAuthority(authority, home, uid, item.resolvedPath,
                                            ownerThatMatters(kind, item));
        const std::optional<Consent> consent =
            own ? std::nullopt : std::optional(Consent::manageFiles);
        AuditRecord record{kind.event,        kind.name, uid,
                           item.resolvedPath, {},        authority.nameFor(consent)};
        // An item that was within the caller's authority when classified but is not now
        // (it changed meanwhile) is refused unless consent was already given.
        if (consent && !authority.granted(*consent)) {
            record.event = AuditEvent::requestRefused;
            results.push_back(ItemResult{path, notAuthorizedOutcome(), std::nullopt});
        } else {
            RootFileOps ops = admitted->ops;
            ops.foreignEntries = own && !authority.callerIsRoot() ? ForeignEntries::keepTheirOwner
                                                                  : ForeignEntries::handOver;
            results.push_back(action(item, ops));
        }
        record.outcome = auditOutcome(results.back().outcome);
        audit(authority.caller(), record);
        parents.giveBack(std::move(item.parent.fd));
    }
    return HelperResponse::items(std::move(results));
}

}  // namespace kb
