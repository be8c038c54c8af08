#include "platform/InodeAttributes.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

namespace kb {
namespace {

struct Mapping {
    std::uint32_t attribute;
    std::uint32_t fileFlag;
};

constexpr Mapping mappings[] = {
    {FS_IMMUTABLE_FL, fileFlagImmutable},
    {FS_APPEND_FL, fileFlagAppendOnly},
    {FS_NODUMP_FL, fileFlagNoDump},
};

// The kernel reads and writes an int, whatever the ioctl's declared type says.
Result<std::uint32_t, SystemError> readAttributes(int fd) {
    int attributes = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &attributes) != 0) {
        return fail(systemError("FS_IOC_GETFLAGS"));
    }
    return static_cast<std::uint32_t>(attributes);
}

Result<void, SystemError> writeAttributes(int fd, std::uint32_t attributes) {
    int value = static_cast<int>(attributes);
    if (::ioctl(fd, FS_IOC_SETFLAGS, &value) != 0) {
        return fail(systemError("FS_IOC_SETFLAGS"));
    }
    return {};
}

std::uint32_t attributesFromFileFlags(std::uint32_t flags) {
    std::uint32_t attributes = 0;
    for (const auto& m : mappings) {
        if ((flags & m.fileFlag) != 0) {
            attributes |= m.attribute;
        }
    }
    return attributes;
}

constexpr std::uint32_t mappedAttributes = FS_IMMUTABLE_FL | FS_APPEND_FL | FS_NODUMP_FL;

}  // namespace

std::uint32_t fileFlagsFromInodeAttributes(std::uint32_t attributes) {
    std::uint32_t flags = 0;
    for (const auto& m : mappings) {
        if ((attributes & m.attribute) != 0) {
            flags |= m.fileFlag;
        }
    }
    return flags;
}

Result<std::uint32_t, SystemError> readFileFlags(int fd) {
    auto attributes = readAttributes(fd);
    if (!attributes) {
        return fail(attributes.error());
    }
    return fileFlagsFromInodeAttributes(*attributes);
}

Result<void, SystemError> setFileFlags(int fd, std::uint32_t flags) {
    auto attributes = readAttributes(fd);
    if (!attributes) {
        return fail(attributes.error());
    }
    const std::uint32_t wanted = (*attributes & ~mappedAttributes) | attributesFromFileFlags(flags);
    if (wanted == *attributes) {
        return {};
    }
    return writeAttributes(fd, wanted);
}

Result<void, SystemError> clearFileFlags(int fd, std::uint32_t flags) {
    auto attributes = readAttributes(fd);
    if (!attributes) {
        return fail(attributes.error());
    }
    const std::uint32_t wanted = *attributes & ~attributesFromFileFlags(flags);
    if (wanted == *attributes) {
        return {};
    }
    return writeAttributes(fd, wanted);
}

}  // namespace kb
