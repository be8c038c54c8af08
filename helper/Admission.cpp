#include "helper/Admission.h"

#include "HelperProtocol/HelperValidation.h"
#include "base/Overloaded.h"
#include "platform/PasswordDatabase.h"

namespace kb {
namespace {

std::string notAUserAccount(std::uint32_t uid) {
    return "uid " + std::to_string(uid) + " is not a user account this helper will act for";
}

struct PathScope {
    std::size_t pathCount = 0;
    std::uint32_t uid = 0;
};

// The paths and uid of a path-carrying request; nothing for the other kinds.
std::optional<PathScope> pathScopeOf(const HelperRequest& request) {
    using R = HelperRequest;
    return std::visit(Overloaded{
                          [](const R::TrashItems& r) -> std::optional<PathScope> {
                              return PathScope{r.paths.size(), r.uid};
                          },
                          [](const R::RemoveItems& r) -> std::optional<PathScope> {
                              return PathScope{r.paths.size(), r.uid};
                          },
                          [](const R::ClearProtection& r) -> std::optional<PathScope> {
                              return PathScope{1, r.uid};
                          },
                          [](const R::RestoreFromTrash& r) -> std::optional<PathScope> {
                              return PathScope{1, r.uid};
                          },
                          [](const auto&) -> std::optional<PathScope> { return std::nullopt; },
                      },
                      request.kind);
}

}  // namespace

std::optional<AdmittedRequest> admitRequest(const std::vector<std::string>& paths,
                                            std::uint32_t uid) {
    if (paths.empty() || paths.size() > maximumPathsPerRequest) {
        return std::nullopt;
    }
    if (uid < HelperValidation::minimumUserUID) {
        return std::nullopt;
    }
    auto account = lookUpAccount(uid);
    if (!account) {
        return std::nullopt;
    }
    auto policy = PathPolicy::forUser(*account);
    if (!policy) {
        return std::nullopt;
    }
    RootFileOps ops{uid, account->gid, PathPolicy::normalize(account->home),
                    ForeignEntries::keepTheirOwner};
    return AdmittedRequest{std::move(*account), std::move(ops), std::move(*policy)};
}

std::string refusalMessage(const std::vector<std::string>& paths, std::uint32_t uid) {
    if (paths.empty()) {
        return "the request carried no paths";
    }
    if (paths.size() > maximumPathsPerRequest) {
        return "a single request may not carry " + std::to_string(paths.size()) + " paths";
    }
    return notAUserAccount(uid);
}

std::optional<std::string> peerUidRefusal(const HelperRequest& request, std::uint32_t peerUid) {
    if (peerUid == 0) {
        return std::nullopt;
    }
    const auto scope = pathScopeOf(request);
    if (!scope || scope->uid == peerUid || scope->pathCount < 1 ||
        scope->pathCount > maximumPathsPerRequest) {
        return std::nullopt;
    }
    return notAUserAccount(scope->uid);
}

}  // namespace kb
