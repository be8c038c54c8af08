#include "CleanerCore/policy/OrderedPathList.h"

#include <limits>

#include "CleanerCore/policy/UnicodeText.h"

namespace kb {
namespace {

constexpr std::size_t none = std::numeric_limits<std::size_t>::max();

// Calls `visit` with each non-empty piece of `path`, in order, while it returns true.
template <class Visit>
void forEachPiece(std::string_view path, Visit visit) {
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t end = path.find('/', i);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end > i && !visit(path.substr(i, end - i))) {
            return;
        }
        i = end + 1;
    }
}

}  // namespace

OrderedPathList::OrderedPathList() : root_(std::make_unique<Node>(Node{none, {}})) {}

void OrderedPathList::add(std::string name) {
    Node* node = root_.get();
    forEachPiece(UnicodeText::folded(name), [&](std::string_view piece) {
        auto found = node->children.find(piece);
        if (found == node->children.end()) {
            found =
                node->children.emplace(std::string(piece), std::make_unique<Node>(Node{none, {}}))
                    .first;
        }
        node = found->second.get();
        return true;
    });
    if (node->entry == none) {
        node->entry = names_.size();
    }
    names_.push_back(std::move(name));
}

const std::string* OrderedPathList::firstMatch(std::string_view foldedPath, Match match) const {
    std::size_t best = none;
    const auto consider = [&](const Node& node, bool atEnd) {
        const bool wanted = atEnd ? match != Match::inside : match != Match::equal;
        if (wanted && node.entry < best) {
            best = node.entry;
        }
    };
    // Every node passed on the way is an ancestor of the path; the node reached after the
    // last piece (the root for "/") is the path itself.
    const Node* node = root_.get();
    forEachPiece(foldedPath, [&](std::string_view piece) {
        consider(*node, false);
        const auto found = node->children.find(piece);
        node = found != node->children.end() ? found->second.get() : nullptr;
        return node != nullptr;
    });
    if (node != nullptr) {
        consider(*node, true);
    }
    return best != none ? &names_[best] : nullptr;
}

}  // namespace kb
