#include "HelperProtocol/HelperConstants.h"

#include <gtest/gtest.h>

#include "HelperProtocol/HelperValidation.h"

namespace kb {
namespace {

std::string plistWithVersion(const std::string& entry) {
    return "<plist><dict><key>CFBundleIdentifier</key><string>x</string>" + entry +
           "</dict></plist>";
}

TEST(HelperConstants, BuildVersionParsesTheWholeTextOrGivesZero) {
    struct Case {
        std::string entry;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"<key>CFBundleVersion</key><string>7</string>", 7},
        {"<key>CFBundleVersion</key>\n\t<string>+12</string>", 12},
        {"<key>CFBundleVersion</key><string>-3</string>", -3},
        {"<key>CFBundleVersion</key><string>1.2</string>", 0},
        {"<key>CFBundleVersion</key><string> 7</string>", 0},
        {"<key>CFBundleVersion</key><string>7 </string>", 0},
        {"<key>CFBundleVersion</key><string></string>", 0},
        {"<key>CFBundleVersion</key><string/>", 0},
        {"<key>CFBundleVersion</key><string>+</string>", 0},
        {"<key>CFBundleVersion</key><string>9223372036854775807</string>", INT64_MAX},
        {"<key>CFBundleVersion</key><string>-9223372036854775808</string>", INT64_MIN},
        {"<key>CFBundleVersion</key><string>9223372036854775808</string>", 0},
        {"<key>CFBundleVersion</key><integer>7</integer>", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(HelperConstants::versionFromPlist(plistWithVersion(c.entry)), c.expected);
    }
}

TEST(HelperConstants, ClientRequirementHasItsTwoForms) {
    EXPECT_EQ(
        HelperConstants::clientRequirement(false),
        R"(anchor apple generic and identifier "dev.kestrelbay" and certificate leaf[subject.OU] = "Q7Z2K4M9X1")");
    EXPECT_EQ(
        HelperConstants::clientRequirement(true),
        R"(anchor apple generic and identifier "dev.kestrelbay" and (certificate leaf[subject.OU] = "Q7Z2K4M9X1" or certificate 1[field.1.2.840.113635.100.6.2.1] exists))");
}

TEST(HelperConstants, ProgramsWithoutTheEmbeddedListReadVersionZero) {
    EXPECT_EQ(HelperConstants::buildVersion(), 0);
}

TEST(HelperValidation, IdentifierRule) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"com.example.agent", true},
        {"A-b_9.x", true},
        {"-starts-with-dash", true},
        {std::string(255, 'a'), true},
        {std::string(256, 'a'), false},
        {"", false},
        {"has space", false},
        {"a/b", false},
        {"a;b", false},
        {"caf\xc3\xa9", false},
        {std::string("a\0b", 3), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(HelperValidation::isValidIdentifier(c.text), c.valid);
    }
}

TEST(HelperValidation, OnlyTerminateAndKillAreDeliverable) {
    EXPECT_EQ(HelperValidation::allowedSignals(), (std::set<std::int32_t>{9, 15}));
    EXPECT_EQ(HelperValidation::minimumUserUID, 1000u);
}

}  // namespace
}  // namespace kb
