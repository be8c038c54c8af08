#include "helper/Admission.h"

#include "HelperProtocol/HelperValidation.h"
#include "platform/PasswordDatabase.h"

namespace kb {

std::optional<AdmittedRequest> admitRequest(const std::vector<std::string>& paths,
                                            std::uint32_t uid) {
    if (paths.empty() || paths.size() > maximumPathsPerRequest) {
        return std::nullopt;
    }
    if (uid < HelperValidation::minimumUserUID) {
        return std::nullopt;
    }
    const auto account = lookUpAccount(uid);
    if (!account || account->home.empty()) {
        return std::nullopt;
    }
    auto policy = PathPolicy::forUser(uid);
    if (!policy) {
        return std::nullopt;
    }
    return AdmittedRequest{RootFileOps{uid, account->gid, PathPolicy::normalize(account->home),
                                       ForeignEntries::keepTheirOwner},
                           std::move(*policy)};
}

std::string refusalMessage(const std::vector<std::string>& paths, std::uint32_t uid) {
    if (paths.empty()) {
        return "the request carried no paths";
    }
    if (paths.size() > maximumPathsPerRequest) {
        return "a single request may not carry " + std::to_string(paths.size()) + " paths";
    }
    return "uid " + std::to_string(uid) + " is not a user account this helper will act for";
}

}  // namespace kb
