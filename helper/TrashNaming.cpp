#include "helper/TrashNaming.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace kb {

std::string pathExtension(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        return {};
    }
    return name.substr(dot + 1);
}

std::string trashCandidate(const std::string& name, std::size_t n) {
    if (n <= 1) {
        return name;
    }
    const std::string ext = pathExtension(name);
    const std::string base = ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1);
    std::string candidate = base + " " + std::to_string(n);
    if (!ext.empty()) {
        candidate += "." + ext;
    }
    return candidate;
}

std::optional<std::size_t> firstFreeCandidate(int trashFd, const std::string& name) {
    for (std::size_t n = 1; n <= maximumTrashCandidates; ++n) {
        struct stat st {};
        if (::fstatat(trashFd, trashCandidate(name, n).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return n;
        }
    }
    return std::nullopt;
}

}  // namespace kb
