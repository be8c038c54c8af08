#include "testing/ScratchTree.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

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
    UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = std::to_string(i);
        UniqueFd file(::openat(dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        if (!file) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> listTree(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    auto describe = [&](const fs::path& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            return;
        }
        std::string relative = fs::relative(path, root).string();
        std::string line = relative + " " + std::to_string(st.st_mode & S_IFMT) + " " +
                           std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " +
                           std::to_string(st.st_mode & 07777) + " " +
                           std::to_string(S_ISDIR(st.st_mode) ? 0 : st.st_size);
        if (S_ISLNK(st.st_mode)) {
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
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

gid_t groupOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_gid : static_cast<gid_t>(-1);
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
