// Pieces the fuzz targets that read and write real files share. Single-threaded, as
// libFuzzer runs a target.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "CleanerCore/model/FileURL.h"

namespace kb::fuzzing {

// Aborts, so that the fuzzer reports the input, when a property does not hold.
inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// One scratch directory PREFIX.XXXXXX under the temporary directory for the whole run, made
// on first use and removed when the fuzzer exits.
inline const std::filesystem::path& scratch(const char* prefix) {
    static std::filesystem::path directory;
    if (directory.empty()) {
        std::string name =
            std::filesystem::temp_directory_path() / (std::string(prefix) + ".XXXXXX");
        check(::mkdtemp(name.data()) != nullptr);
        directory = name;
        std::atexit([] { std::filesystem::remove_all(directory); });
    }
    return directory;
}

inline FileURL urlOf(const std::filesystem::path& path) {
    auto url = FileURL::fromPath(path.string());
    check(url.has_value());
    return *url;
}

}  // namespace kb::fuzzing
