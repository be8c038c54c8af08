#include "CleanerCore/policy/StatIdentity.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/FileStatus.h"

namespace kb {
namespace {

StatIdentity fromStatus(const FileStatus& status) {
    return StatIdentity{status.device,   status.inode, status.modificationTime,
                        status.ownerUID, status.mode,  status.fileFlags};
}

}  // namespace

StatIdentity::CaptureResult StatIdentity::capture(const std::string& path) {
    return capture(AT_FDCWD, path, path);
}

StatIdentity::CaptureResult StatIdentity::capture(int dirfd, const std::string& name,
                                                  std::string_view pathForErrors) {
    auto status = fileStatusAt(dirfd, name);
    if (!status) {
        if (status.error().code == ENOENT) {
            return std::optional<StatIdentity>();
        }
        return fail(CleanerError::io(pathForErrors.empty() ? name : std::string(pathForErrors),
                                     status.error().code));
    }
    return std::optional<StatIdentity>(fromStatus(withFileFlagsAt(dirfd, name.c_str(), *status)));
}

Result<StatIdentity, CleanerError> StatIdentity::captureOpenFile(int fd,
                                                                 std::string_view pathForErrors) {
    auto status = fileStatusOf(fd);
    if (!status) {
        return fail(CleanerError::io(std::string(pathForErrors), status.error().code));
    }
    return fromStatus(withFileFlagsOf(fd, *status));
}

}  // namespace kb

namespace kb::json {

boost::json::value Codec<StatIdentity>::encode(const StatIdentity& value) {
    return FieldWriter()
        .field("device", value.device)
        .field("inode", value.inode)
        .field("modificationTime", value.modificationTime)
        .field("ownerUID", value.ownerUID)
        .field("mode", value.mode)
        .field("flags", value.flags)
        .value();
}

StatIdentity Codec<StatIdentity>::decode(const boost::json::value& value) {
    const FieldReader r(value, "StatIdentity");
    return StatIdentity{r.required<std::uint64_t>("device"),
                        r.required<std::uint64_t>("inode"),
                        r.required<std::int64_t>("modificationTime"),
                        r.required<std::uint32_t>("ownerUID"),
                        r.required<std::uint16_t>("mode"),
                        r.required<std::uint32_t>("flags")};
}

}  // namespace kb::json
