#include "CleanerCore/policy/ParentResolutions.h"

namespace kb {

UniqueFd ParentResolutions::lendCheckedDirectory(std::string_view canonicalParent) {
    if (open_.fd && open_.canonical == canonicalParent && checkedPath_ == canonicalParent &&
        checkedId_ == open_.id) {
        lent_ = open_.fd.get();
        return std::move(open_.fd);
    }
    return UniqueFd();
}

void ParentResolutions::giveBack(UniqueFd directory) {
    // The lent descriptor stayed open meanwhile, so its number still names it.
    if (directory && directory.get() == lent_ && !open_.fd) {
        open_.fd = std::move(directory);
    }
    lent_ = -1;
}

const std::string* ParentResolutions::reuse(const std::string& parent,
                                            const PolicyFileSystem& fileSystem) {
    const auto found = entries_.find(parent);
    if (found == entries_.end()) {
        return nullptr;
    }
    const auto current = fileSystem.identityOf(parent);
    if (!current || !(*current == found->second.id)) {
        entries_.erase(found);
        return nullptr;
    }
    checkedPath_ = parent;
    checkedId_ = *current;
    return &found->second.canonical;
}

void ParentResolutions::remember(const std::string& parent, ResolvedDirectory directory) {
    if (entries_.size() >= maximumEntries) {
        entries_.clear();
    }
    entries_.insert_or_assign(parent, Entry{directory.canonical, directory.id});
    checkedPath_ = parent;
    checkedId_ = directory.id;
    open_ = std::move(directory);
    lent_ = -1;
}

}  // namespace kb
