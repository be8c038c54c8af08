#include "HelperProtocol/HelperConstants.h"

#include <gtest/gtest.h>

#include "HelperProtocol/HelperValidation.h"

namespace kb {
namespace {

// This test program has no embedded list, so its own build version is 0.
TEST(HelperConstants, BuildVersionParsesTheWholeTextOrGivesZero) {
    const auto plist = [](const std::string& entry) {
        return "<plist><dict><key>CFBundleIdentifier</key><string>x</string>" + entry +
               "</dict></plist>";
    };
    const std::pair<std::string, std::int64_t> cases[] = {
        {"<string>7</string>", 7},
        {"\n\t<string>+12</string>", 12},
        {"<string>9223372036854775807</string>", INT64_MAX},
        {"<string>-9223372036854775808</string>", INT64_MIN},
        {"<string>9223372036854775808</string>", 0},
        {"<string>1.2</string>", 0},
        {"<string> 7</string>", 0},
        {"<string>7 </string>", 0},
        {"<string></string>", 0},
        {"<string/>", 0},
        {"<string>+</string>", 0},
        {"<integer>7</integer>", 0},
    };
    for (const auto& [entry, expected] : cases) {
        SCOPED_TRACE(entry);
        EXPECT_EQ(HelperConstants::versionFromPlist(plist("<key>CFBundleVersion</key>" + entry)),
                  expected);
    }
    EXPECT_EQ(HelperConstants::versionFromPlist(plist("")), 0);
    EXPECT_EQ(HelperConstants::buildVersion(), 0);
}

TEST(HelperValidation, IdentifiersAreShortAndOfSafeCharacters) {
    using namespace std::string_literals;
    for (const std::string& valid :
         {"com.example.agent"s, "A-b_9.x"s, "-starts-with-dash"s, std::string(255, 'a')}) {
        EXPECT_TRUE(HelperValidation::isValidIdentifier(valid)) << valid;
    }
    for (const std::string& invalid :
         {std::string(256, 'a'), ""s, "has space"s, "a/b"s, "a;b"s, "caf\xc3\xa9"s, "a\0b"s}) {
        EXPECT_FALSE(HelperValidation::isValidIdentifier(invalid)) << invalid;
    }
}

}  // namespace
}  // namespace kb
