// One request's memory of the parent directories its paths were resolved through, so that
// the many paths of one request that share a parent resolve it once (PathPolicy::evaluate).
//
// An entry maps a parent as written (normalized) to its canonical path and to the device and
// inode that path led to when it was resolved. It is used again only while the parent as
// written still leads to that same object, its last component not followed (one statx);
// anything else drops the entry and resolves afresh. The directory resolved afresh last is
// kept open (O_PATH): the kernel named it by its canonical path at that moment, so acting
// through it acts on the very directory the verdict was taken on. Never shared between
// requests; one thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

#include "CleanerCore/policy/PolicyFileSystem.h"
#include "platform/FileStatus.h"
#include "platform/UniqueFd.h"

namespace kb {

class ParentResolutions {
  public:
    // Beyond this many parents the memory starts over.
    static constexpr std::size_t maximumEntries = 4096;

    // The descriptor of the directory `canonicalParent`, lent, when the last evaluation
    // checked that its path, as written, still leads to the directory kept open (no link as
    // its last component, same device and inode); an empty one otherwise. Until it is given
    // back, later paths open their parent afresh.
    UniqueFd lendCheckedDirectory(std::string_view canonicalParent);
    // Takes back a descriptor lendCheckedDirectory lent; any other is closed.
    void giveBack(UniqueFd directory);

  private:
    friend class PathPolicy;

    struct Entry {
        std::string canonical;
        ObjectId id;
    };

    void startEvaluation() { checkedPath_.clear(); }
    // The canonical path remembered for `parent`, when what `parent` leads to now (read
    // through `fileSystem`) is the object it was resolved to.
    const std::string* reuse(const std::string& parent, const PolicyFileSystem& fileSystem);
    void remember(const std::string& parent, ResolvedDirectory directory);

    std::unordered_map<std::string, Entry> entries_;
    ResolvedDirectory open_;
    int lent_ = -1;  // open_'s descriptor while it is lent
    std::string checkedPath_;
    ObjectId checkedId_;
};

}  // namespace kb
