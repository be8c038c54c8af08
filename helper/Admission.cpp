#include "helper/Admission.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>

#include "HelperProtocol/HelperValidation.h"

namespace kb {
namespace {

struct Account {
    std::uint32_t gid = 0;
    std::string home;
};

std::optional<Account> lookUpAccount(std::uint32_t uid) {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
    struct passwd entry {};
    struct passwd* found = nullptr;
    for (;;) {
        const int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || entry.pw_dir == nullptr || entry.pw_dir[0] == '\0') {
            return std::nullopt;
        }
        return Account{entry.pw_gid, entry.pw_dir};
    }
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
    const auto account = lookUpAccount(uid);
    if (!account) {
        return std::nullopt;
    }
    auto policy = PathPolicy::forUser(uid);
    if (!policy) {
        return std::nullopt;
    }
    return AdmittedRequest{RootFileOps{uid, account->gid, PathPolicy::normalize(account->home)},
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
