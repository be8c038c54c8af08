#include "CleanerCore/errors/PolicyReason.h"

#include <gtest/gtest.h>

#include <tuple>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

TEST(PolicyReason, EveryCaseHasItsDescriptionAndJsonAndRoundTripsAndMalformedOnesAreRefused) {
    const std::tuple<PolicyReason, std::string, std::string> cases[] = {
        {PolicyReason::emptyPath(), "empty path", R"({"emptyPath":{}})"},
        {PolicyReason::notAbsolute(), "path is not absolute", R"({"notAbsolute":{}})"},
        {PolicyReason::containsParentReference(), "path contains '..'",
         R"({"containsParentReference":{}})"},
        {PolicyReason::containsControlCharacters(), "path contains control characters",
         R"({"containsControlCharacters":{}})"},
        {PolicyReason::deniedRoot("/System"), "'/System' is a protected root",
         R"({"deniedRoot":{"_0":"/System"}})"},
        {PolicyReason::deniedSubtree("/etc"), "inside protected subtree '/etc'",
         R"({"deniedSubtree":{"_0":"/etc"}})"},
        {PolicyReason::protectedLocation("/home/a/.ssh"), "protected location '/home/a/.ssh'",
         R"({"protectedLocation":{"_0":"/home/a/.ssh"}})"},
        {PolicyReason::userProtected("/home/a/Projects"),
         "protected by user whitelist '/home/a/Projects'",
         R"({"userProtected":{"_0":"/home/a/Projects"}})"},
        {PolicyReason::symlinkEscape("/etc/passwd", "inside protected subtree '/etc'"),
         "resolves to '/etc/passwd' which is denied (inside protected subtree '/etc')",
         R"({"symlinkEscape":{"resolved":"/etc/passwd","underlying":"inside protected subtree '/etc'"}})"},
        {PolicyReason::unresolvable(13), "cannot resolve path (errno 13)",
         R"({"unresolvable":{"errno":13}})"},
        {PolicyReason::unresolvable(-2), "cannot resolve path (errno -2)",
         R"({"unresolvable":{"errno":-2}})"},
    };
    std::vector<PolicyReason> reasons;
    for (const auto& [reason, description, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(reason.description(), description);
        EXPECT_EQ(testing::domainJson(reason), text);
        reasons.push_back(reason);
    }
    testing::expectRoundTripsAndHashes(reasons);
    for (const char* text : {R"({"deniedRoot":{}})", R"({"unresolvable":{"errno":"13"}})",
                             R"({"symlinkEscape":{"resolved":"/a"}})"}) {
        EXPECT_FALSE(json::decode<PolicyReason>(text)) << text;
    }
}

}  // namespace
}  // namespace kb
