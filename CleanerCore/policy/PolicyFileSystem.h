// The file-system reads the path policy makes, behind an interface so that tests can
// produce error numbers the real file system cannot produce on demand. The system itself
// always uses RealPolicyFileSystem. Implementations must be safe to call from any thread.
#pragma once

#include <optional>
#include <string>

#include "base/Result.h"
#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb {

enum class EntryPresence { exists, absent };

// A directory opened (O_PATH) and named by the kernel.
struct ResolvedDirectory {
    std::string canonical;
    ObjectId id;
    UniqueFd fd;
};

class PolicyFileSystem {
  public:
    virtual ~PolicyFileSystem() = default;

    // Whether an entry exists at the absolute `path`; a final symbolic link is not followed
    // (a dangling link exists). ENOENT and ENOTDIR mean absent; any other failure is its
    // error number.
    virtual Result<EntryPresence, int> entryExists(const std::string& path) const = 0;

    // The canonical form of the existing absolute `path` (every symbolic link resolved),
    // or the error number of the failure.
    virtual Result<std::string, int> canonicalPath(const std::string& path) const = 0;

    // The absolute, normalized `path` (not "/") with the symbolic links of its parent
    // directories resolved: its nearest existing ancestor in canonical form, followed by
    // the components below that ancestor as written. The final component is never
    // followed. A path none of whose ancestors below "/" exists comes back unchanged. The
    // result may hold doubled slashes (callers normalize it). Fails with the error number
    // of a probe that fails with anything but "absent", or of the canonicalization.
    //
    // This default probes the ancestors from the nearest one up with entryExists and
    // canonicalizes the first existing one with canonicalPath.
    virtual Result<std::string, int> resolveParents(const std::string& path) const;

    // The existing directory the absolute `path` leads to (links followed), opened and named
    // by its canonical path; nothing when it is no directory or cannot be named so. With
    // identityOf, what lets one request resolve a shared parent once (ParentResolutions.h).
    // This default gives nothing: every path is resolved afresh.
    virtual std::optional<ResolvedDirectory> openDirectory(const std::string& path) const;

    // The device and inode the absolute `path` leads to, a final link not followed.
    virtual std::optional<ObjectId> identityOf(const std::string& path) const;
};

// The real file system, read through descriptors one component at a time, so the work is
// linear in the length of the path (lstat and realpath of every ancestor would be
// quadratic for deep trees). The results are those of lstat and realpath. Stateless.
class RealPolicyFileSystem final : public PolicyFileSystem {
  public:
    Result<EntryPresence, int> entryExists(const std::string& path) const override;
    Result<std::string, int> canonicalPath(const std::string& path) const override;
    Result<std::string, int> resolveParents(const std::string& path) const override;
    std::optional<ResolvedDirectory> openDirectory(const std::string& path) const override;
    std::optional<ObjectId> identityOf(const std::string& path) const override;
};

}  // namespace kb
