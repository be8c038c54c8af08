#include "CleanerCore/errors/CleanerError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "testing/RecordChecks.h"

namespace kb {
namespace {

TEST(CleanerError, EveryCaseHasItsMessageAndJsonAndRoundTripsAndMalformedOnesAreRefused) {
    const std::tuple<CleanerError, std::string, std::string> cases[] = {
        {CleanerError::policyDenied("/etc/passwd", PolicyReason::deniedSubtree("/etc")),
         "Refused to touch /etc/passwd: inside protected subtree '/etc'",
         R"({"policyDenied":{"path":"/etc/passwd","reason":{"deniedSubtree":{"_0":"/etc"}}}})"},
        {CleanerError::sipProtected("/usr/bin/x"),
         "/usr/bin/x is protected by System Integrity Protection",
         R"({"sipProtected":{"path":"/usr/bin/x"}})"},
        {CleanerError::inUse("/opt/a b", {412, 9001}),
         "/opt/a b is in use by processes [412, 9001]",
         R"({"inUse":{"path":"/opt/a b","pids":[412,9001]}})"},
        {CleanerError::inUse("/x", {}), "/x is in use by processes []",
         R"({"inUse":{"path":"/x","pids":[]}})"},
        {CleanerError::permissionDenied("/Apps/X", RequiredPermission::appManagement),
         "/Apps/X requires appManagement",
         R"({"permissionDenied":{"needs":"appManagement","path":"/Apps/X"}})"},
        {CleanerError::helperUnavailable("socket closed"),
         "Privileged helper unavailable: socket closed",
         R"({"helperUnavailable":{"_0":"socket closed"}})"},
        {CleanerError::helperTimeout(), "Privileged helper did not respond in time",
         R"({"helperTimeout":{}})"},
        {CleanerError::raceDetected("/h/a"), "/h/a changed between check and delete",
         R"({"raceDetected":{"path":"/h/a"}})"},
        {CleanerError::notFound("/h/gone"), "/h/gone does not exist",
         R"({"notFound":{"path":"/h/gone"}})"},
        {CleanerError::io("/h/x", 13), "/h/x: " + std::string(std::strerror(13)) + " (13)",
         R"({"io":{"errno":13,"path":"/h/x"}})"},
        {CleanerError::io("/h/z", -4), "/h/z: " + std::string(std::strerror(-4)) + " (-4)",
         R"({"io":{"errno":-4,"path":"/h/z"}})"},
        {CleanerError::invalidArgument("uid 0"), "Invalid argument: uid 0",
         R"({"invalidArgument":{"_0":"uid 0"}})"},
        {CleanerError::cancelled(), "Cancelled", R"({"cancelled":{}})"},
    };
    std::vector<CleanerError> errors;
    for (const auto& [error, message, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(error.userMessage(), message);
        EXPECT_EQ(testing::domainJson(error), text);
        errors.push_back(error);
    }
    errors.push_back(CleanerError::inUse("/opt/a b", {9001, 412}));
    errors.push_back(CleanerError::io("/h/x", 14));
    testing::expectRoundTripsAndHashes(errors);
    // Field types and a bad nested reason; the codec kit's own rules are pinned by its tests.
    for (const char* text :
         {R"({"io":{"path":"/a","errno":2147483648}})", R"({"inUse":{"path":"/a","pids":[1,"2"]}})",
          R"({"permissionDenied":{"path":"/a","needs":"FullDiskAccess"}})",
          R"({"policyDenied":{"path":"/a","reason":{"deniedRoot":{}}}})"}) {
        EXPECT_FALSE(json::decode<CleanerError>(text)) << text;
    }
}

}  // namespace
}  // namespace kb
