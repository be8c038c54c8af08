// A scratch directory for one test, removed with everything in it on destruction.
#pragma once

#include <string>
#include <string_view>

#include "platform/FileStatus.h"

namespace kb::testing {

class TempDir {
  public:
    // Created under `parent` (default /tmp) with mode 0755 so that dropped-privilege
    // children can search it.
    explicit TempDir(std::string_view parent = "/tmp");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

  private:
    std::string path_;
};

// Writes `contents` to `path`, creating or truncating it. Fails the test on error.
void writeFile(const std::string& path, std::string_view contents);

// The whole contents of `path`; fails the test on error.
std::string readFile(const std::string& path);

// Creates the directory chain like mkdir -p (mode 0755).
void makeDirectories(const std::string& path);

bool pathExists(const std::string& path);  // its status can be read, a link as itself

// The status of `path`, a final symbolic link described itself; fails the test (and yields
// a zeroed status) when it cannot be read.
FileStatus statusOf(const std::string& path);
ObjectId idOf(const std::string& path);  // statusOf(path).id()

}  // namespace kb::testing
