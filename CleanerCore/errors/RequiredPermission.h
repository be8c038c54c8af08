// The kind of permission whose absence caused a permission error. Its raw value (and JSON
// form) is the case name: "fullDiskAccess", "appManagement", "privilegedHelper".
#pragma once

#include <optional>
#include <string_view>

#include "json/JsonCodec.h"

namespace kb {

enum class RequiredPermission { fullDiskAccess, appManagement, privilegedHelper };

std::string_view rawValue(RequiredPermission permission);

// Exactly the three raw values, case-sensitive; nothing for any other text.
std::optional<RequiredPermission> requiredPermissionFromRawValue(std::string_view raw);

}  // namespace kb

namespace kb::json {

template <>
struct Codec<RequiredPermission> {
    static boost::json::value encode(RequiredPermission value);
    static RequiredPermission decode(const boost::json::value& value);
};

}  // namespace kb::json
