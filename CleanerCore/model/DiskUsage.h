// Capacity of the volume that holds a location.
//
// DiskUsage::snapshot reads the figures of the file system holding the URL's path (the path
// is followed like any path argument): total = all blocks x fragment size; available = the
// blocks an ordinary user may still allocate x fragment size. This platform has no purgeable
// space, so purgeableBytes is always present and 0. It fails, returning nothing partial, with
// CleanerError::io(path, ENOENT) when the path does not exist, CleanerError::io(path, EIO)
// for any other failure to read the figures, and CleanerError::notFound(path) when the file
// system reports no capacity at all. rootVolume() is the snapshot of "/". Both may run on any
// thread at the same time.
//
// DiskUsageSnapshot is a plain value (member-wise construction in declaration order, compared
// and hashed over every field). Its JSON form is an object with "volumeURL" (absolute file
// URL string), "totalBytes", "availableBytes" and, when present, "purgeableBytes"; all but
// "purgeableBytes" are required on input and unknown keys are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "CleanerCore/errors/CleanerError.h"
#include "CleanerCore/model/FileURL.h"
#include "base/Result.h"
#include "json/JsonCodec.h"

namespace kb {

struct DiskUsageSnapshot {
    FileURL volumeURL;  // as the caller gave it, not the mount point
    std::uint64_t totalBytes = 0;
    std::uint64_t availableBytes = 0;
    // The part of availableBytes that only purging frees; absent when not reported.
    std::optional<std::uint64_t> purgeableBytes{};

    // The used share of the volume, 0.0 for a volume of size 0; availableBytes above
    // totalBytes counts as nothing used.
    double usedFraction() const;

    bool operator==(const DiskUsageSnapshot&) const = default;
};

namespace DiskUsage {

Result<DiskUsageSnapshot, CleanerError> snapshot(const FileURL& url);

Result<DiskUsageSnapshot, CleanerError> rootVolume();

}  // namespace DiskUsage

}  // namespace kb

template <>
struct std::hash<kb::DiskUsageSnapshot> {
    std::size_t operator()(const kb::DiskUsageSnapshot& snapshot) const;
};

namespace kb::json {

template <>
struct Codec<DiskUsageSnapshot> {
    static boost::json::value encode(const DiskUsageSnapshot& value);
    static DiskUsageSnapshot decode(const boost::json::value& value);
};

}  // namespace kb::json
