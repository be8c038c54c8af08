// The kind of permission whose absence caused a permission error. Its raw value (and JSON
// form) is the case name: "fullDiskAccess", "appManagement", "privilegedHelper";
// fromRawValue<RequiredPermission> accepts exactly these, case-sensitive.
#pragma once

#include "json/DescribedCodec.h"

namespace kb {

enum class RequiredPermission { fullDiskAccess, appManagement, privilegedHelper };
BOOST_DESCRIBE_ENUM(RequiredPermission, fullDiskAccess, appManagement, privilegedHelper)

}  // namespace kb
