#include "CleanerCore/errors/RequiredPermission.h"

namespace kb {
namespace {

constexpr json::RawName<RequiredPermission> rawNames[] = {
    {RequiredPermission::fullDiskAccess, "fullDiskAccess"},
    {RequiredPermission::appManagement, "appManagement"},
    {RequiredPermission::privilegedHelper, "privilegedHelper"},
};

}  // namespace

std::string_view rawValue(RequiredPermission permission) {
    return json::rawNameOf(permission, rawNames);
}

std::optional<RequiredPermission> requiredPermissionFromRawValue(std::string_view raw) {
    for (const auto& entry : rawNames) {
        if (entry.name == raw) {
            return entry.value;
        }
    }
    return std::nullopt;
}

}  // namespace kb

namespace kb::json {

boost::json::value Codec<RequiredPermission>::encode(RequiredPermission value) {
    return boost::json::value(boost::json::string_view(rawValue(value)));
}

RequiredPermission Codec<RequiredPermission>::decode(const boost::json::value& value) {
    return decodeRawName(value, rawNames, "RequiredPermission");
}

}  // namespace kb::json
