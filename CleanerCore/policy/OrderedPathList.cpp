#include "CleanerCore/policy/OrderedPathList.h"

#include "CleanerCore/policy/UnicodeText.h"

namespace kb {

void OrderedPathList::add(std::string name) {
    std::string folded = UnicodeText::folded(name);
    while (folded.size() > 1 && folded.back() == '/') {
        folded.pop_back();
    }
    if (lengths_.size() <= folded.size()) {
        lengths_.resize(folded.size() + 1);
    }
    lengths_[folded.size()] = true;
    firstIndex_.try_emplace(std::move(folded), names_.size());
    names_.push_back(std::move(name));
}

const std::string* OrderedPathList::firstMatch(std::string_view foldedPath, Match match) const {
    std::size_t best = names_.size();
    const auto consider = [&](std::string_view key) {
        if (!hasLength(key.size())) {
            return;
        }
        if (const auto found = firstIndex_.find(key);
            found != firstIndex_.end() && found->second < best) {
            best = found->second;
        }
    };
    if (match != Match::inside) {
        consider(foldedPath);
    }
    if (match != Match::equal) {
        // Every ancestor of the path: "/" and each prefix that ends before a "/".
        if (foldedPath.size() > 1 && foldedPath.front() == '/') {
            consider("/");
        }
        for (std::size_t slash = foldedPath.find('/', 1); slash != std::string_view::npos;
             slash = foldedPath.find('/', slash + 1)) {
            consider(foldedPath.substr(0, slash));
        }
    }
    return best < names_.size() ? &names_[best] : nullptr;
}

}  // namespace kb
