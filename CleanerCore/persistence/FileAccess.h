// Whole-file reads and atomic whole-file writes for the store and the journal.
//
// Paths are absolute; symbolic links on the way are followed like any file opener does.
// Every descriptor is opened O_CLOEXEC and closed before the call returns (except the
// directory descriptor handed to the caller). Failures carry the failing step, the path and
// errno. Safe to call from several threads; two writers of one file are not coordinated
// (the last rename wins).
#pragma once

#include <sys/types.h>
#include <optional>
#include <string>
#include <string_view>

#include "CleanerCore/persistence/PersistenceError.h"
#include "base/Result.h"
#include "platform/UniqueFd.h"

namespace kb::FileAccess {

// "/a/b/c.json" -> {"/a/b", "c.json"}; "/c" -> {"/", "c"}. The name is empty for "/" or a
// path ending in "/".
struct SplitPath {
    std::string directory;
    std::string name;
};
SplitPath splitPath(const std::string& path);

// Opens an existing directory for fd-relative work.
Result<UniqueFd, PersistenceError> openDirectory(const std::string& path);

// Opens the directory, first creating it and every missing parent with `mode` (0700 unless
// said otherwise; the umask still applies).
Result<UniqueFd, PersistenceError> createDirectories(const std::string& path, mode_t mode = 0700);

// The whole contents of `name` in `directory`; nothing when it does not exist (ENOENT).
// Anything but a regular file (a directory, a FIFO, a device) is refused.
// `pathForErrors` names the file in errors.
Result<std::optional<std::string>, PersistenceError> readFile(int directory,
                                                              const std::string& name,
                                                              const std::string& pathForErrors);

// The same for an absolute path.
Result<std::optional<std::string>, PersistenceError> readFile(const std::string& path);

// Replaces `name` in `directory` with `bytes` as a whole: a new file in the same directory
// is written, flushed with fsync, renamed over `name`, and the directory is flushed. A
// reader sees the old or the new contents, never a mix; on failure the old file is left as
// it was and the temporary file is removed. A replaced regular file keeps its permission
// bits; a new file gets 0600.
Result<void, PersistenceError> writeAtomically(int directory, const std::string& name,
                                               std::string_view bytes,
                                               const std::string& pathForErrors);

}  // namespace kb::FileAccess
