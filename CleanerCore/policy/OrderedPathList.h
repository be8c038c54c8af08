// An ordered list of paths compared in folded form (canonical composition and case
// folding), answering "which is the first entry, in list order, that this path equals or
// lies inside" with one hash lookup per piece of the path instead of a scan of the list.
// Immutable after construction; safe to share between threads.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kb {

class OrderedPathList {
  public:
    enum class Match {
        equal,          // the path is the entry
        equalOrInside,  // the path is the entry or lies below it
        inside,         // the path lies below the entry
    };

    // Adds `name` at the end; it is compared in the form UnicodeText::folded(name), without
    // a trailing "/" (except for "/" itself).
    void add(std::string name);

    // The name of the first entry the already-folded, normalized `foldedPath` matches, or
    // nullptr.
    const std::string* firstMatch(std::string_view foldedPath, Match match) const;

    std::size_t size() const { return names_.size(); }

  private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const {
            return std::hash<std::string_view>{}(text);
        }
    };

    bool hasLength(std::size_t length) const {
        return length < lengths_.size() && lengths_[length];
    }

    std::vector<std::string> names_;
    std::vector<bool> lengths_;  // the lengths of the folded entries, to skip most lookups
    std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> firstIndex_;
};

}  // namespace kb
