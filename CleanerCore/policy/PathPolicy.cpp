#include "CleanerCore/policy/PathPolicy.h"

#include <cerrno>

namespace kb {

struct PathPolicy::Candidates {};

PathPolicy::PathPolicy(std::string_view homeDirectory, std::vector<std::string> userProtectedPaths)
    : PathPolicy(homeDirectory, std::move(userProtectedPaths),
                 std::make_shared<RealPolicyFileSystem>()) {}

PathPolicy::PathPolicy(std::string_view homeDirectory, std::vector<std::string> userProtectedPaths,
                       std::shared_ptr<const PolicyFileSystem> fileSystem)
    : homeDirectory_(normalize(homeDirectory)),
      userProtectedPaths_(std::move(userProtectedPaths)),
      fileSystem_(std::move(fileSystem)) {}

std::optional<PathPolicy> PathPolicy::forUser(uid_t, std::vector<std::string>) {
    return std::nullopt;
}

std::string PathPolicy::normalize(std::string_view path) {
    std::string out;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t end = std::min(path.find('/', i), path.size());
        const std::string_view piece = path.substr(i, end - i);
        if (!piece.empty() && piece != ".") {
            out += '/';
            out += piece;
        }
        i = end + 1;
    }
    return out.empty() ? "/" : out;
}

std::optional<PolicyReason> PathPolicy::classify(std::string_view) const {
    return PolicyReason::deniedRoot("/");
}

PolicyDecision PathPolicy::evaluate(std::string_view) const {
    return PolicyDecision::denied(PolicyReason::unresolvable(ENOSYS));
}

Result<EntryPresence, int> RealPolicyFileSystem::entryExists(const std::string&) const {
    return fail(ENOSYS);
}

Result<std::string, int> RealPolicyFileSystem::canonicalPath(const std::string&) const {
    return fail(ENOSYS);
}

}  // namespace kb
