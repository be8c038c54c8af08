#include "platform/PosixAcl.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace kb {
namespace {

constexpr const char* accessName = "system.posix_acl_access";
constexpr const char* defaultName = "system.posix_acl_default";

// The kernel's xattr form: a 32-bit version (2), then 8-byte entries
// {u16 tag, u16 permissions, u32 id}, little-endian.
constexpr std::uint32_t aclVersion = 2;
constexpr std::uint16_t tagGroupObject = 0x04;
constexpr std::uint16_t tagMask = 0x10;

bool meansNoList(int code) {
    return code == ENODATA || code == EOPNOTSUPP;
}

// The permissions the owning group effectively had under the list; nothing when the value
// cannot be understood.
std::optional<unsigned> effectiveGroupPermissions(const std::vector<unsigned char>& value) {
    const auto u16 = [&](size_t at) {
        return static_cast<std::uint16_t>(value[at] | value[at + 1] << 8);
    };
    if (value.size() < 4 || (value.size() - 4) % 8 != 0) {
        return std::nullopt;
    }
    if ((std::uint32_t{value[0]} | std::uint32_t{value[1]} << 8 | std::uint32_t{value[2]} << 16 |
         std::uint32_t{value[3]} << 24) != aclVersion) {
        return std::nullopt;
    }
    std::optional<unsigned> group;
    unsigned mask = 07;
    for (size_t at = 4; at < value.size(); at += 8) {
        const std::uint16_t tag = u16(at);
        const unsigned permissions = u16(at + 2) & 07u;
        if (tag == tagGroupObject) {
            group = permissions;
        } else if (tag == tagMask) {
            mask = permissions;
        }
    }
    if (!group) {
        return std::nullopt;
    }
    return *group & mask;
}

Result<std::optional<std::vector<unsigned char>>, SystemError> readAttribute(int fd,
                                                                             const char* name) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) {
            if (meansNoList(errno)) {
                return std::optional<std::vector<unsigned char>>();
            }
            return fail(systemError("fgetxattr"));
        }
        std::vector<unsigned char> value(static_cast<size_t>(size));
        const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return std::optional(std::move(value));
        }
        if (errno != ERANGE) {  // ERANGE: it grew meanwhile; ask again
            return fail(systemError("fgetxattr"));
        }
    }
}

Result<void, SystemError> removeAttribute(int fd, const char* name) {
    if (::fremovexattr(fd, name) != 0 && !meansNoList(errno)) {
        return fail(systemError("fremovexattr"));
    }
    return {};
}

}  // namespace

Result<void, SystemError> removePosixAcl(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return fail(systemError("fstat"));
    }
    auto access = readAttribute(fd, accessName);
    if (!access) {
        return fail(access.error());
    }
    if (*access) {
        // Unknown contents: take the group's access away rather than guess.
        const unsigned group = effectiveGroupPermissions(**access).value_or(0);
        const mode_t narrowed = (status.st_mode & 07707) | (group << 3);
        // With a list present this sets the mask entry, so nobody gains access meanwhile.
        if (narrowed != (status.st_mode & 07777) && ::fchmod(fd, narrowed) != 0) {
            return fail(systemError("fchmod"));
        }
        if (auto removed = removeAttribute(fd, accessName); !removed) {
            return removed;
        }
    }
    if (S_ISDIR(status.st_mode)) {
        return removeAttribute(fd, defaultName);
    }
    return {};
}

Result<bool, SystemError> hasPosixAcl(int fd) {
    for (const char* name : {accessName, defaultName}) {
        auto value = readAttribute(fd, name);
        if (!value) {
            return fail(value.error());
        }
        if (*value) {
            return true;
        }
    }
    return false;
}

}  // namespace kb
