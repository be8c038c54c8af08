#include "helper/ItemPipeline.h"

#include <cerrno>

#include "helper/Admission.h"
#include "helper/Logger.h"

namespace kb {

ItemOutcome failedOutcome(int errnum) {
    return ItemOutcome::failed(errnum, errorText(errnum));
}

namespace {

std::optional<PolicyReason> insideStaging(const std::string& resolved,
                                          const std::string& stagingDirectory) {
    if (stagingDirectory.empty()) {
        return std::nullopt;
    }
    const std::string staging = PathPolicy::normalize(stagingDirectory);
    if (resolved == staging) {
        return PolicyReason::deniedRoot(staging);
    }
    if (resolved.rfind(staging + "/", 0) == 0) {
        return PolicyReason::deniedSubtree(staging);
    }
    return std::nullopt;
}

}  // namespace

std::variant<std::string, ItemResult> evaluateItem(const PathPolicy& policy,
                                                   const std::string& path,
                                                   const std::string& stagingDirectory) {
    PolicyDecision decision = policy.evaluate(path);
    if (const std::string* resolved = decision.resolvedPath()) {
        if (auto reason = insideStaging(*resolved, stagingDirectory)) {
            decision = PolicyDecision::denied(std::move(*reason));
        } else {
            return *resolved;
        }
    }
    const std::string reason = decision.reason()->description();
    serviceLogger().notice("refused " + path + ": " + reason);
    return ItemResult{path, ItemOutcome::policyDenied(reason), std::nullopt};
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
    auto identity = StatIdentity::capture(directory.fd.get(), directory.name, resolvedPath);
    if (!identity || !identity->has_value()) {
        return ItemOutcome::notFound();
    }
    if ((*identity)->isSIPRestricted()) {
        return ItemOutcome::sipProtected();
    }
    return CapturedItem{path, resolvedPath, std::move(directory), **identity};
}

HelperResponse runItemPipeline(const std::vector<std::string>& paths, std::uint32_t uid,
                               const ItemAction& action, const std::string& stagingDirectory) {
    const auto admitted = admitRequest(paths, uid);
    if (!admitted) {
        return HelperResponse::error(refusalMessage(paths, uid));
    }
    std::vector<ItemResult> results;
    results.reserve(paths.size());
    for (const std::string& path : paths) {
        auto evaluated = evaluateItem(admitted->policy, path, stagingDirectory);
        if (auto* denied = std::get_if<ItemResult>(&evaluated)) {
            results.push_back(std::move(*denied));
            continue;
        }
        auto captured = captureItem(path, std::get<std::string>(evaluated));
        if (auto* outcome = std::get_if<ItemOutcome>(&captured)) {
            results.push_back(ItemResult{path, std::move(*outcome), std::nullopt});
            continue;
        }
        results.push_back(action(std::get<CapturedItem>(captured), admitted->ops));
    }
    return HelperResponse::items(std::move(results));
}

}  // namespace kb
