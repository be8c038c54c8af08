// Capacity figures of the file system that holds a path (statvfs).
//
// totalBytes is the file system's size in fragments x fragment size; availableBytes is what
// an unprivileged user may still allocate (f_bavail x fragment size); freeBytes also counts
// the blocks reserved for root (f_bfree x fragment size). Products saturate instead of
// wrapping. The path is followed like any other path argument (a symbolic link names the
// file system of its target).
#pragma once

#include <cstdint>
#include <string>

#include "base/Result.h"
#include "platform/SystemError.h"

namespace kb {

struct VolumeCapacity {
    std::uint64_t totalBytes = 0;
    std::uint64_t availableBytes = 0;
    std::uint64_t freeBytes = 0;

    bool operator==(const VolumeCapacity&) const = default;
};

// Fails with the statvfs error (ENOENT for a missing path, ...).
Result<VolumeCapacity, SystemError> volumeCapacity(const std::string& path);

}  // namespace kb
