#include "platform/VolumeCapacity.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <limits>

namespace kb {
namespace {

std::uint64_t saturatingProduct(std::uint64_t count, std::uint64_t size) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(count, size, &product)) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return product;
}

}  // namespace

Result<VolumeCapacity, SystemError> volumeCapacity(const std::string& path) {
    struct statvfs figures;
    int rc = 0;
    do {
        rc = ::statvfs(path.c_str(), &figures);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return fail(systemError("statvfs", path));
    }
    const std::uint64_t fragment = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
    return VolumeCapacity{
        .totalBytes = saturatingProduct(figures.f_blocks, fragment),
        .availableBytes = saturatingProduct(figures.f_bavail, fragment),
        .freeBytes = saturatingProduct(figures.f_bfree, fragment),
    };
}

}  // namespace kb
