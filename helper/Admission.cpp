#include "helper/Admission.h"

#include <array>
#include <mutex>

#include "CleanerCore/policy/PolicyFileSystem.h"
#include "HelperProtocol/HelperValidation.h"
#include "base/Overloaded.h"
#include "platform/PasswordDatabase.h"

namespace kb {
namespace {

// Building a policy folds some seventy home-relative entries, which costs a one-path request
// more than everything else it does. A policy depends only on the home as the database
// writes it and as it resolves, so a policy built for the same two is the policy a fresh
// build would give: the home is resolved anew for every request and compared.
class PolicyCache {
  public:
    std::optional<PathPolicy> policyFor(const AccountEntry& account) {
        const std::string given = PathPolicy::normalize(account.home);
        const auto canonical = RealPolicyFileSystem().canonicalPath(given);
        const std::string resolved = canonical ? PathPolicy::normalize(*canonical) : given;
        {
            std::lock_guard guard(lock_);
            for (const auto& entry : entries_) {
                if (entry && entry->given == given && entry->policy.homeDirectory() == resolved) {
                    return entry->policy;
                }
            }
        }
        auto policy = PathPolicy::forUser(account);
        if (policy && policy->homeDirectory() == resolved) {
            std::lock_guard guard(lock_);
            entries_[next_++ % entries_.size()] = Entry{given, *policy};
        }
        return policy;
    }

  private:
    struct Entry {
        std::string given;  // normalized
        PathPolicy policy;
    };
    std::mutex lock_;
    std::array<std::optional<Entry>, 16> entries_;
    std::size_t next_ = 0;
};

PolicyCache& policyCache() {
    // Deliberately never destroyed: requests may still run while the process exits.
    static auto* cache = new PolicyCache();
    return *cache;
}

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
    auto policy = policyCache().policyFor(*account);
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
