// The two file-system reads the path policy makes, behind an interface so that tests can
// produce error numbers the real file system cannot produce on demand. The system itself
// always uses RealPolicyFileSystem. Implementations must be safe to call from any thread.
#pragma once

#include <string>

#include "HelperProtocol/Result.h"

namespace kb {

enum class EntryPresence { exists, absent };

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
};

// lstat and realpath on the real file system. Stateless.
class RealPolicyFileSystem final : public PolicyFileSystem {
  public:
    Result<EntryPresence, int> entryExists(const std::string& path) const override;
    Result<std::string, int> canonicalPath(const std::string& path) const override;
};

}  // namespace kb
