// A fixed set of words searched as substrings of a text, with one pass over the text.
// Immutable after construction; safe to share between threads.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

class KeywordSet {
  public:
    void add(std::string word);

    // Whether `text` contains any of the words.
    bool foundIn(std::string_view text) const;

  private:
    std::vector<std::string> words_;
    // For each first byte, the indexes of the words starting with it; and the pairs of
    // bytes that begin a word, which rule out most positions without a comparison.
    std::array<std::vector<std::uint16_t>, 256> byFirstByte_;
    std::bitset<65536> firstPairs_;
    bool hasShortWord_ = false;  // a one-byte word defeats the pair filter
};

}  // namespace kb
