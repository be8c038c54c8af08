#include "testing/ScratchTree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb::testing {

bool makeDeepChain(const std::string& root, std::size_t depth) {
    UniqueFd current(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t i = 0; i < depth && current; ++i) {
        UniqueFd file(::openat(current.get(), "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        if (!file || ::mkdirat(current.get(), "d", 0755) != 0) {
            return false;
        }
        current = UniqueFd(::openat(current.get(), "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    return current.valid();
}

bool makeManyFiles(const std::string& directory, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::ofstream(directory + "/" + std::to_string(i))) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> listTree(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    auto describe = [&](const fs::path& path) {
        const auto st = fileStatusAt(AT_FDCWD, path.string());
        if (!st) {
            return;
        }
        std::string line = fs::relative(path, root).string() + " " +
                           std::to_string(st->mode & S_IFMT) + " " + std::to_string(st->ownerUID) +
                           ":" + std::to_string(st->groupID) + " " +
                           std::to_string(st->mode & 07777) + " " +
                           std::to_string(st->isDirectory() ? 0 : st->size);
        if (st->isSymlink()) {
            std::error_code ec;
            line += " -> " + fs::read_symlink(path, ec).string();
        }
        lines.push_back(line);
    };
    describe(root);
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        describe(it->path());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

uid_t ownerOf(const std::string& path) {
    const auto st = fileStatusAt(AT_FDCWD, path);
    return st ? st->ownerUID : static_cast<uid_t>(-1);
}

gid_t groupOf(const std::string& path) {
    const auto st = fileStatusAt(AT_FDCWD, path);
    return st ? st->groupID : static_cast<gid_t>(-1);
}

void withDescriptorLimit(std::size_t limit, const std::function<void()>& body) {
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const struct rlimit tight { limit, saved.rlim_max };
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    body();
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

ScratchMount::ScratchMount(const std::string& path) : path_(path) {
    ::mkdir(path.c_str(), 0755);
    mounted_ =
        ::mount("kbscratch", path.c_str(), "tmpfs", 0, "size=512m,nr_inodes=400k,mode=0755") == 0;
}

ScratchMount::~ScratchMount() {
    if (mounted_) {
        ::umount2(path_.c_str(), MNT_DETACH);
    }
}

}  // namespace kb::testing
