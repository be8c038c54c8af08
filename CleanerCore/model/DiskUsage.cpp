#include "CleanerCore/model/DiskUsage.h"

#include <cerrno>

#include "base/Hashing.h"
#include "platform/VolumeCapacity.h"

namespace kb {

double DiskUsageSnapshot::usedFraction() const {
    if (totalBytes == 0) {
        return 0.0;
    }
    const std::uint64_t used = availableBytes > totalBytes ? 0 : totalBytes - availableBytes;
    return static_cast<double>(used) / static_cast<double>(totalBytes);
}

namespace DiskUsage {

Result<DiskUsageSnapshot, CleanerError> snapshot(const FileURL& url) {
    const std::string path = url.path();
    const auto capacity = volumeCapacity(path);
    if (!capacity.ok()) {
        return fail(CleanerError::io(path, capacity.error().code == ENOENT ? ENOENT : EIO));
    }
    if (capacity->totalBytes < 1) {
        return fail(CleanerError::notFound(path));
    }
    // The figure for important use and the plain available figure are the same blocks here,
    // so nothing of the available space is purgeable.
    const std::uint64_t important = capacity->availableBytes;
    const std::uint64_t available = capacity->availableBytes;
    return DiskUsageSnapshot{
        .volumeURL = url,
        .totalBytes = capacity->totalBytes,
        .availableBytes = important,
        .purgeableBytes = important > available ? important - available : 0,
    };
}

Result<DiskUsageSnapshot, CleanerError> rootVolume() {
    return snapshot(*FileURL::fromPath("/", FileURL::Kind::directory));
}

}  // namespace DiskUsage
}  // namespace kb

std::size_t std::hash<kb::DiskUsageSnapshot>::operator()(
    const kb::DiskUsageSnapshot& snapshot) const {
    std::size_t seed = 0;
    kb::hashCombine(seed, snapshot.volumeURL);
    kb::hashCombine(seed, snapshot.totalBytes);
    kb::hashCombine(seed, snapshot.availableBytes);
    kb::hashCombine(seed, snapshot.purgeableBytes);
    return seed;
}

namespace kb::json {

boost::json::value Codec<DiskUsageSnapshot>::encode(const DiskUsageSnapshot& value) {
    return FieldWriter()
        .field("volumeURL", value.volumeURL)
        .field("totalBytes", value.totalBytes)
        .field("availableBytes", value.availableBytes)
        .optional("purgeableBytes", value.purgeableBytes)
        .value();
}

DiskUsageSnapshot Codec<DiskUsageSnapshot>::decode(const boost::json::value& value) {
    FieldReader r(value, "DiskUsageSnapshot");
    return DiskUsageSnapshot{
        .volumeURL = r.required<FileURL>("volumeURL"),
        .totalBytes = r.required<std::uint64_t>("totalBytes"),
        .availableBytes = r.required<std::uint64_t>("availableBytes"),
        .purgeableBytes = r.optional<std::uint64_t>("purgeableBytes"),
    };
}

}  // namespace kb::json
