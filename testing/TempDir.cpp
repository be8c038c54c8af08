#include "testing/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kb::testing {

TempDir::TempDir(std::string_view parent) {
    std::string pattern = std::string(parent) + "/kbtest.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp in " << parent << " failed";
        return;
    }
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
    if (path_.empty()) {
        return;
    }
    // Immutable or append-only attributes left by a test would make removal fail.
    [[maybe_unused]] const int rc =
        std::system(("chattr -R -i -a '" + path_ + "' >/dev/null 2>&1").c_str());
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, std::string_view contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out) << "cannot write " << path;
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot read " << path;
    return {std::istreambuf_iterator<char>(in), {}};
}

void makeDirectories(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    ASSERT_FALSE(ec) << "mkdir -p " << path << ": " << ec.message();
}

bool pathExists(const std::string& path) {
    return fileStatusAt(AT_FDCWD, path).ok();
}

FileStatus statusOf(const std::string& path) {
    auto status = fileStatusAt(AT_FDCWD, path);
    EXPECT_TRUE(status.ok()) << "cannot read the status of " << path;
    return status.ok() ? *status : FileStatus{};
}

ObjectId idOf(const std::string& path) {
    return statusOf(path).id();
}

}  // namespace kb::testing
