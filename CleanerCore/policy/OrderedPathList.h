// An ordered list of paths compared in folded form (canonical composition and case
// folding), answering "which is the first entry, in list order, that this path equals or
// lies inside". The entries form a tree of pieces, so a lookup walks the path's pieces
// once and stops at the first piece no entry continues with, however long the list.
// Immutable after construction; safe to share between threads.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
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

    OrderedPathList();

    // Adds `name` at the end; it is compared in the form UnicodeText::folded(name), with
    // empty and trailing pieces ignored ("/" is the root itself).
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
    struct Node {
        std::size_t entry;  // index of the first entry ending here, or none
        std::unordered_map<std::string, std::unique_ptr<Node>, Hash, std::equal_to<>> children;
    };

    std::vector<std::string> names_;
    std::unique_ptr<Node> root_;
};

}  // namespace kb
