#include "platform/PasswordDatabase.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kb {

std::optional<AccountEntry> lookUpAccount(std::uint32_t uid) {
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
        if (rc != 0 || found == nullptr) {
            return std::nullopt;
        }
        return AccountEntry{entry.pw_name != nullptr ? entry.pw_name : "", entry.pw_uid,
                            entry.pw_gid, entry.pw_dir != nullptr ? entry.pw_dir : ""};
    }
}

}  // namespace kb
