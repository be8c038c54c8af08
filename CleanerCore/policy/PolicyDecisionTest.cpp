#include "CleanerCore/policy/PolicyDecision.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace kb {
namespace {

TEST(PolicyDecision, ComparesAndHashesByValue) {
    const PolicyDecision decisions[] = {
        PolicyDecision::allowed("/a"),
        PolicyDecision::allowed("/b"),
        PolicyDecision::denied(PolicyReason::emptyPath()),
        PolicyDecision::denied(PolicyReason::deniedRoot("/a")),
    };
    std::unordered_set<PolicyDecision> set(std::begin(decisions), std::end(decisions));
    set.insert(PolicyDecision::allowed("/a"));
    EXPECT_EQ(set.size(), 4u);
    EXPECT_EQ(*decisions[0].resolvedPath(), "/a");
    EXPECT_EQ(decisions[0].reason(), nullptr);
    EXPECT_EQ(decisions[3].resolvedPath(), nullptr);
    EXPECT_EQ(*decisions[3].reason(), PolicyReason::deniedRoot("/a"));
}

}  // namespace
}  // namespace kb
