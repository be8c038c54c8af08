#include "CleanerCore/policy/PolicyFileSystem.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

namespace kb {

Result<EntryPresence, int> RealPolicyFileSystem::entryExists(const std::string& path) const {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        return EntryPresence::exists;
    }
    if (errno == ENOENT || errno == ENOTDIR) {
        return EntryPresence::absent;
    }
    return fail(errno);
}

Result<std::string, int> RealPolicyFileSystem::canonicalPath(const std::string& path) const {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) {
        return fail(errno);
    }
    return std::string(buffer);
}

}  // namespace kb
