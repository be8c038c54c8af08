// The path safety policy: decides whether the helper may touch a path on behalf of one
// user, and why not.
//
// A policy is built per request for the acting user (home directory and the user's own
// protected paths) and is an immutable value: copies share the (stateless) file-system
// adapter, evaluate() keeps no state and may run on several threads at once.
//
// evaluate() judges a path by its text and by the real location of its parent
// directories: malformed paths, system roots and subtrees, users' private data stores and
// the user's protected paths are denied; symbolic links in the parents are resolved (the
// final component never is) and the resolved path is judged again. The helper's own
// staging areas are always denied, and on Linux whatever lies outside the places a cleaner
// or uninstaller may reach (see ProtectedPatterns.h). A path longer than maximumPathBytes
// or with more than maximumPathPieces pieces is denied before any of this, so the work for
// one path is bounded, and resolving its parents is linear in its length. It never throws:
// every problem, including a file-system error while resolving, is a denial. The verdict
// reflects the file system at the moment of the call, so callers re-check the item's
// identity (StatIdentity) before acting on the resolved path.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CleanerCore/errors/PolicyReason.h"
#include "CleanerCore/policy/ParentResolutions.h"
#include "CleanerCore/policy/PolicyDecision.h"
#include "CleanerCore/policy/PolicyFileSystem.h"
#include "platform/PasswordDatabase.h"

namespace kb {

class PathPolicy {
  public:
    // Longer paths, or paths with more pieces, are unresolvable with ENAMETOOLONG.
    static constexpr std::size_t maximumPathBytes = 4096;
    static constexpr std::size_t maximumPathPieces = 256;

    // `homeDirectory` is normalized and canonicalized when it exists (else kept normalized);
    // each user-protected path is normalized and kept in order (the first match is named).
    explicit PathPolicy(std::string_view homeDirectory,
                        std::vector<std::string> userProtectedPaths = {});
    // Same, reading the file system through `fileSystem` (tests).
    PathPolicy(std::string_view homeDirectory, std::vector<std::string> userProtectedPaths,
               std::shared_ptr<const PolicyFileSystem> fileSystem);

    // The policy for `account`, looked up by the caller; nothing when it has no home
    // directory.
    static std::optional<PathPolicy> forUser(const AccountEntry& account,
                                             std::vector<std::string> userProtectedPaths = {});

    // Text only: drops empty and "." pieces; ".." stays; the result always starts with
    // "/" ("/" when nothing is left). Idempotent.
    static std::string normalize(std::string_view path);

    PolicyDecision evaluate(std::string_view path) const;
    // The same verdict for one path of a request whose paths are all evaluated with the same
    // `parents` (ParentResolutions.h): a parent shared with an earlier path is resolved once.
    PolicyDecision evaluate(std::string_view path, ParentResolutions& parents) const;

    const std::string& homeDirectory() const { return homeDirectory_; }
    const std::vector<std::string>& userProtectedPaths() const { return userProtectedPaths_; }

    // The classification step alone, on an absolute normalized path (no file-system access):
    // the reason the text is denied for, or nothing.
    std::optional<PolicyReason> classify(std::string_view normalizedPath) const;

  private:
    struct Candidates;

    // The normalized path with its parents' symbolic links resolved through the nearest
    // existing ancestor (the final component is never followed), or an error number.
    Result<std::string, int> resolve(const std::string& normalized,
                                     ParentResolutions* parents) const;
    PolicyDecision evaluate(std::string_view path, ParentResolutions* parents) const;

    std::string homeDirectory_;
    std::vector<std::string> userProtectedPaths_;
    std::shared_ptr<const PolicyFileSystem> fileSystem_;
    std::shared_ptr<const Candidates> candidates_;  // home-relative tables, folded once
};

}  // namespace kb
