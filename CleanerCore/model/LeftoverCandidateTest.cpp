#include "CleanerCore/model/LeftoverCandidate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

std::string candidateJson(const std::string& reasons) {
    return R"({"path":"file:///Users/alice/Library/Caches/x/","kind":"cache","reasons":)" +
           reasons +
           R"(,"confidence":3,"isProtected":false,"sharedWith":[],"ownerProcesses":[],)"
           R"("requiresRoot":false})";
}

TEST(Confidence, ConvertsOnlyOneToFourAndOrdersLowToExact) {
    const std::pair<std::int64_t, std::optional<Confidence>> cases[] = {
        {-1, std::nullopt},    {0, std::nullopt},
        {1, Confidence::low},  {2, Confidence::medium},
        {3, Confidence::high}, {4, Confidence::exact},
        {5, std::nullopt},     {1LL << 32 | 1, std::nullopt},
    };
    for (const auto& [raw, expected] : cases) {
        SCOPED_TRACE(raw);
        EXPECT_EQ(confidenceFromRawValue(raw), expected);
        const auto decoded = json::decode<Confidence>(std::to_string(raw));
        EXPECT_EQ(decoded.ok() ? std::optional(*decoded) : std::nullopt, expected);
        if (expected) {
            EXPECT_EQ(rawValue(*expected), raw);
        }
    }
    EXPECT_LT(Confidence::low, Confidence::medium);
    EXPECT_LT(Confidence::high, Confidence::exact);
    EXPECT_FALSE(json::decode<Confidence>("\"4\"").ok());
}

TEST(LeftoverCandidate, JsonOmitsAbsentOptionalsAndReadsReasonsAsASetInAnyOrder) {
    const LeftoverCandidate minimal{
        .path = *FileURL::fromPath("/Users/alice/Library/Caches/com.example.notes",
                                   FileURL::Kind::directory),
        .kind = LeftoverKind::cache,
        .reasons = {MatchReason::bundleIDExact},
        .confidence = Confidence::exact};
    EXPECT_EQ(testing::domainJson(minimal),
              R"({"confidence":4,"isProtected":false,"kind":"cache","ownerProcesses":[],)"
              R"("path":"file:///Users/alice/Library/Caches/com.example.notes/",)"
              R"("reasons":["bundleIDExact"],"requiresRoot":false,"sharedWith":[]})");
    const auto one =
        json::decode<LeftoverCandidate>(candidateJson(R"(["teamID","nameExact","spotlight"])"));
    const auto other = json::decode<LeftoverCandidate>(
        candidateJson(R"(["spotlight","teamID","nameExact","teamID"])"));
    ASSERT_TRUE(one.ok()) << one.error().message;
    ASSERT_TRUE(other.ok()) << other.error().message;
    EXPECT_EQ(*one, *other);
    EXPECT_EQ(std::hash<LeftoverCandidate>()(*one), std::hash<LeftoverCandidate>()(*other));
    EXPECT_EQ(one->reasons.size(), 3u);
}

}  // namespace
}  // namespace kb
