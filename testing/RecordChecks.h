// The checks every record with a JSON form shares.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <unordered_set>
#include <vector>

#include "json/JsonCodec.h"

namespace kb::testing {

// The domain JSON form of `value`; a value that cannot be encoded fails the test.
template <class T>
std::string domainJson(const T& value) {
    const auto text = json::encode(value, json::JsonStyle::domain);
    EXPECT_TRUE(text.ok());
    return text.ok() ? *text : std::string();
}

// Each of `distinctSamples` (pairwise unequal) comes back from its JSON form unchanged and
// hashes like a copy of itself; a hash set keeps copies together and the samples apart.
template <class T>
void expectRoundTripsAndHashes(const std::vector<T>& distinctSamples) {
    std::unordered_set<T> seen;
    for (const auto& sample : distinctSamples) {
        const auto text = domainJson(sample);
        SCOPED_TRACE(text);
        const auto back = json::decode<T>(text);
        ASSERT_TRUE(back.ok()) << back.error().message;
        EXPECT_EQ(*back, sample);
        EXPECT_EQ(std::hash<T>()(*back), std::hash<T>()(sample));
        seen.insert(sample);
        seen.insert(*back);
    }
    EXPECT_EQ(seen.size(), distinctSamples.size()) << "some samples compare equal";
}

}  // namespace kb::testing
