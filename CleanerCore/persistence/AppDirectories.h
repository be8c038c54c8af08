// Where the application keeps its files.
#pragma once

#include <string_view>

#include "CleanerCore/model/FileURL.h"

namespace kb::AppDirectories {

inline constexpr std::string_view appIdentifier = "dev.kestrelbay";

// The home directory URL followed by "Library/Application Support/dev.kestrelbay", as a
// directory URL. Only builds the URL; creates nothing.
FileURL supportDirectory(const FileURL& home);

}  // namespace kb::AppDirectories
