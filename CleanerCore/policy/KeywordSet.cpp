#include "CleanerCore/policy/KeywordSet.h"

namespace kb {
namespace {

std::size_t pairAt(std::string_view text, std::size_t i) {
    return static_cast<std::size_t>(static_cast<unsigned char>(text[i])) << 8 |
           static_cast<unsigned char>(text[i + 1]);
}

}  // namespace

void KeywordSet::add(std::string word) {
    if (word.empty()) {
        return;
    }
    if (word.size() == 1) {
        hasShortWord_ = true;
    } else {
        firstPairs_.set(pairAt(word, 0));
    }
    byFirstByte_[static_cast<unsigned char>(word.front())].push_back(
        static_cast<std::uint16_t>(words_.size()));
    words_.push_back(std::move(word));
}

bool KeywordSet::foundIn(std::string_view text) const {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!hasShortWord_ && (i + 1 == text.size() || !firstPairs_.test(pairAt(text, i)))) {
            continue;
        }
        for (const auto index : byFirstByte_[static_cast<unsigned char>(text[i])]) {
            const std::string& word = words_[index];
            if (text.compare(i, word.size(), word) == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace kb
