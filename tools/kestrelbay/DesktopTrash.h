// The account's own Trash as desktops keep it (the freedesktop.org layout): items in
// DATA_HOME/Trash/files, each with a DATA_HOME/Trash/info/NAME.trashinfo file that records
// its original path (percent-encoded) and the deletion date (local time).
//
// moveToTrash reserves a free name by creating the info file exclusively (NAME, then
// NAME.2, NAME.3, ... up to 1000 tries), then renames the item into files/ without
// replacing anything; on failure the info file is removed again. An item on another file
// system than the Trash is refused with EXDEV: it is never copied. The item is reached
// through its parent directory's descriptor; a symbolic link is moved as the link.
// restore renames a trashed item back to its original path, creating missing parent
// directories (0700), never replacing an existing item, and removes its info file.
// Directories of the Trash are created with mode 0700.
#pragma once

#include <string>

#include "CleanerCore/model/IsoDate.h"
#include "base/Result.h"
#include "platform/SystemError.h"

namespace kb::DesktopTrash {

// The trashed path.
Result<std::string, SystemError> moveToTrash(const std::string& dataHome, const std::string& path,
                                             Date now);

Result<void, SystemError> restore(const std::string& dataHome, const std::string& trashedPath,
                                  const std::string& originalPath);

// Removes `path` for good: a directory with everything below it on its own file system
// (no link followed), anything else unlinked. An item that is a mount point is refused
// with EXDEV. An item inside DATA_HOME/Trash/files also loses its info file.
Result<void, SystemError> removeItem(const std::string& dataHome, const std::string& path);

// The parent directory and last name of an absolute path.
std::pair<std::string, std::string> splitPath(const std::string& path);

}  // namespace kb::DesktopTrash
