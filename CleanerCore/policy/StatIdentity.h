// The file-system identity of one item, taken without following a final symbolic link:
// device, inode, modification time (whole seconds), owner, mode and file flags.
//
// Captured before acting on an item, it tells how to act (directory, link, protection
// flags) and, compared with a second capture (matches), whether the item was swapped in
// between. A plain value: equality and hashing cover all six fields; the JSON form is an
// object with the six fields as integers of exactly their widths.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "CleanerCore/errors/CleanerError.h"
#include "base/Result.h"
#include "json/JsonCodec.h"

namespace kb {

struct StatIdentity {
    // Bits of `flags`. Linux keeps no user-immutable or restricted flag, so those bits are
    // never set by a capture here; inode attributes map to the other three.
    static constexpr std::uint32_t noDumpFlag = 0x00000001;
    static constexpr std::uint32_t userImmutableFlag = 0x00000002;
    static constexpr std::uint32_t systemImmutableFlag = 0x00020000;
    static constexpr std::uint32_t systemAppendOnlyFlag = 0x00040000;
    static constexpr std::uint32_t sipRestrictedFlag = 0x00080000;

    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t modificationTime = 0;  // seconds since the epoch; sub-seconds dropped
    std::uint32_t ownerUID = 0;
    std::uint16_t mode = 0;  // file type bits included
    std::uint32_t flags = 0;

    // Nothing when the entry does not exist (ENOENT); any other failure is
    // CleanerError::io carrying the path and the error number.
    using CaptureResult = Result<std::optional<StatIdentity>, CleanerError>;

    // The entry at `path` (a final symbolic link is captured as the link).
    static CaptureResult capture(const std::string& path);
    // The entry `name` relative to the directory `dirfd`; errors name `pathForErrors`
    // (or `name` when it is empty).
    static CaptureResult capture(int dirfd, const std::string& name,
                                 std::string_view pathForErrors = {});
    // The file open as `fd` (an O_PATH descriptor is fine); errors name `pathForErrors`.
    static Result<StatIdentity, CleanerError> captureOpenFile(int fd,
                                                              std::string_view pathForErrors);

    bool isUserImmutable() const { return (flags & userImmutableFlag) != 0; }
    bool isSystemImmutable() const { return (flags & systemImmutableFlag) != 0; }
    bool isSystemAppendOnly() const { return (flags & systemAppendOnlyFlag) != 0; }
    bool isSIPRestricted() const { return (flags & sipRestrictedFlag) != 0; }
    bool isDirectory() const { return (mode & S_IFMT) == S_IFDIR; }
    bool isSymlink() const { return (mode & S_IFMT) == S_IFLNK; }

    // Same device, inode and modification second: the race-detection comparison.
    bool matches(const StatIdentity& other) const {
        return device == other.device && inode == other.inode &&
               modificationTime == other.modificationTime;
    }

    bool operator==(const StatIdentity&) const = default;
};

}  // namespace kb

template <>
struct std::hash<kb::StatIdentity> {
    std::size_t operator()(const kb::StatIdentity& identity) const {
        std::size_t seed = 0;
        kb::hashCombine(seed, identity.device);
        kb::hashCombine(seed, identity.inode);
        kb::hashCombine(seed, identity.modificationTime);
        kb::hashCombine(seed, identity.ownerUID);
        kb::hashCombine(seed, identity.mode);
        kb::hashCombine(seed, identity.flags);
        return seed;
    }
};

namespace kb::json {

template <>
struct Codec<StatIdentity> {
    static boost::json::value encode(const StatIdentity& value);
    static StatIdentity decode(const boost::json::value& value);
};

}  // namespace kb::json
