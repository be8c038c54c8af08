// The space that the regular files below a directory really occupy on disk.
//
// allocatedSize adds up the allocated size (blocks x 512) of every regular file in the tree
// below the directory, hidden files included. Directories themselves, symbolic links and
// special files add nothing; a file with several hard links is counted each time one of its
// names is met. Symbolic links are never followed, neither inside the tree nor as the last
// component of the given path (a link given as the directory yields 0). Mount points below
// the directory are entered like any other directory, unless the call asks for
// MountCrossing::stayOnFileSystem: then a subdirectory on another device than the given
// directory adds nothing.
//
// File-system errors never fail the call: an entry or subdirectory that cannot be read is
// skipped and the sizes that could be read are returned; a path that does not exist or is not
// a directory yields 0. The total saturates at 2^64 - 1 instead of wrapping.
//
// Threads and cancellation: the tree is walked by the calling thread and, once there is more
// than one subdirectory to walk, by up to `maxThreads - 1` helper threads that end before the
// call returns. The directory entries listed are counted for the walk as a whole, across all
// its threads, and the stop token is checked only after the walk's 512th, 1024th, ... entry.
// When a thread sees a stop request the whole walk is abandoned (the other threads stop at
// their next entry or when they would take the next directory) and the call fails with
// CleanerError::cancelled. So a tree of fewer than 512 entries is never interrupted, and a
// tree of 512 entries or more is always interrupted when the stop was requested before the
// call, however many threads walk it. The call may run on any thread, many at a time.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "CleanerCore/errors/CleanerError.h"
#include "CleanerCore/model/FileURL.h"
#include "base/Result.h"

namespace kb::DirectorySizer {

// Entries the walk lists between two looks at the stop token.
inline constexpr std::uint64_t cancellationInterval = 512;

struct Parallelism {
    // Most threads walking at once, the caller's included; 0 picks by the number of cores
    // (at most 4).
    unsigned maxThreads = 0;
};

enum class MountCrossing { enter, stayOnFileSystem };

Result<std::uint64_t, CleanerError> allocatedSize(const std::string& directoryPath,
                                                  std::stop_token stop = {},
                                                  Parallelism parallelism = {},
                                                  MountCrossing mounts = MountCrossing::enter);

// The same for the directory that `url` names.
Result<std::uint64_t, CleanerError> allocatedSize(const FileURL& url, std::stop_token stop = {},
                                                  Parallelism parallelism = {},
                                                  MountCrossing mounts = MountCrossing::enter);

}  // namespace kb::DirectorySizer
