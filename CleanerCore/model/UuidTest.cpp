#include "CleanerCore/model/Uuid.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

TEST(Uuid, ParsesOnlyTheCanonicalLayoutInEitherCaseAndWritesUpperCaseAlsoInJson) {
    const auto lower = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    const auto upper = Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(lower->bytes[0], 0xE6);
    EXPECT_EQ(lower->bytes[15], 0x5F);
    EXPECT_EQ(testing::domainJson(*lower), "\"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\"");
    EXPECT_EQ(*json::decode<Uuid>("\"e621e1f8-c36c-495a-93fc-0c247a3e6e5f\""), *lower);
    for (const char* bad : {"\"not-a-uuid\"", "\"\"", "7", "null", "{}"}) {
        EXPECT_FALSE(json::decode<Uuid>(bad).ok()) << bad;
    }
    using namespace std::string_view_literals;
    for (const auto text :
         {""sv, "E621E1F8C36C495A93FC0C247A3E6E5F"sv, "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"sv,
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5"sv, "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF"sv,
          "E621E1F8-C36C-495A-93FC_0C247A3E6E5F"sv, "E621E1F-8C36C-495A-93FC-0C247A3E6E5F"sv,
          "G621E1F8-C36C-495A-93FC-0C247A3E6E5F"sv, "E621E1F8-C36C-495A-93FC-0C247A3E6E5\0"sv,
          " 621E1F8-C36C-495A-93FC-0C247A3E6E5F"sv}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(Uuid::parse(text).has_value());
    }
}

TEST(Uuid, RandomValuesAreVersionFourAndDistinct) {
    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const auto uuid = Uuid::random();
        EXPECT_EQ(uuid.bytes[6] >> 4, 4);
        EXPECT_EQ(Uuid::parse(uuid.uuidString()), uuid);
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace kb
