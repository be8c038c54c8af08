// Building and inspecting scratch trees for the file-operation tests.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kb::testing {

// Creates `depth` nested directories named "d" below `root` (which must exist), each also
// holding a file "f"; returns false on failure.
bool makeDeepChain(const std::string& root, std::size_t depth);

// Creates `count` empty files named 0, 1, ... in the existing directory `directory`.
bool makeManyFiles(const std::string& directory, std::size_t count);

// Every entry below `root` (root itself included) as "relative-path type uid:gid mode
// size" lines in sorted order; links are described, not followed.
std::vector<std::string> listTree(const std::string& root);

// Owner uid and gid of the entry (not following a final link); -1 when it does not exist.
uid_t ownerOf(const std::string& path);
gid_t groupOf(const std::string& path);

// Runs `body` with the process's open-descriptor limit lowered to `limit`, then restores it.
void withDescriptorLimit(std::size_t limit, const std::function<void()>& body);

// A tmpfs mounted at `path` (created if needed) for the object's lifetime.
class ScratchMount {
  public:
    explicit ScratchMount(const std::string& path);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool mounted() const { return mounted_; }

  private:
    std::string path_;
    bool mounted_ = false;
};

}  // namespace kb::testing
