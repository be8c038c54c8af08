// One-shot mode: read one request from a file, run it, write the response to standard
// output with no line feed added.
#pragma once

#include <string>

namespace kb {

enum class ExitStatus { success = 0, usage = 2, failure = 3 };

// Writes "cannot read PATH" or "cannot decode PATH" to standard error on failure. The
// request runs on the worker pool while the calling thread waits.
ExitStatus runOneShot(const std::string& path);

// Files larger than this are not read: no request the helper accepts comes near it.
inline constexpr size_t maximumRequestFileSize = 64u << 20;

}  // namespace kb
