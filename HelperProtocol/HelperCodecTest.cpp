#include "HelperProtocol/HelperCodec.h"

#include <gtest/gtest.h>

namespace kb {
namespace {

using R = HelperRequest;

template <class T>
std::string encoded(const T& value) {
    return HelperCodec::encode(value).value();
}

TEST(HelperCodec, WritesTheExactBytesOfTheProtocolTable) {
    EXPECT_EQ(encoded(HelperRequest{R::GetVersion{}}), R"({"getVersion":{}})");
    EXPECT_EQ(encoded(HelperRequest{R::TrashItems{{"/Users/user1/old.log"}, 501}}),
              R"({"trashItems":{"paths":["\/Users\/user1\/old.log"],"uid":501}})");
    EXPECT_EQ(encoded(HelperRequest{R::TerminateProcess{812, 1700000000, 15}}),
              R"({"terminateProcess":{"pid":812,"signal":15,"startTime":1700000000}})");
    EXPECT_EQ(encoded(HelperRequest{R::BootoutLaunchd{"sample-agent", LaunchdDomain::gui(501)}}),
              R"({"bootoutLaunchd":{"domain":{"gui":{"uid":501}},"label":"sample-agent"}})");
    EXPECT_EQ(encoded(HelperResponse::version(7)), R"({"version":{"_0":7}})");
    EXPECT_EQ(encoded(HelperResponse::done()), R"({"done":{}})");
    EXPECT_EQ(
        encoded(HelperResponse::items({ItemResult{"/Users/user1/old.log", ItemOutcome::ok(),
                                                  "/Users/user1/.Trash/old.log"}})),
        R"({"items":{"_0":[{"outcome":{"ok":{}},"path":"\/Users\/user1\/old.log","trashedPath":"\/Users\/user1\/.Trash\/old.log"}]}})");
    EXPECT_EQ(encoded(ItemOutcome::failed(13, "Permission denied")),
              R"({"failed":{"errno":13,"message":"Permission denied"}})");
    EXPECT_EQ(encoded(ItemResult{"/a", ItemOutcome::notFound(), std::nullopt}),
              R"({"outcome":{"notFound":{}},"path":"\/a"})");
    EXPECT_EQ(encoded(HelperResponse::error("é/ü")), "{\"error\":{\"_0\":\"é\\/ü\"}}");
}

// Each value comes back decoded, and its streamed bytes equal what the generic sorted
// serializer makes of it, so a field written out of order by hand would show.
template <class T>
void expectRoundTrip(const T& value) {
    const std::string text = encoded(value);
    EXPECT_EQ(text, *json::serialize(json::toValue(value), json::JsonStyle::wire));
    EXPECT_EQ(HelperCodec::decode<T>(text).value(), value);
}

TEST(HelperCodec, EveryValueRoundTripsInItsSortedFormAndFieldTypesAreEnforced) {
    const HelperRequest requests[] = {
        {R::GetVersion{}},
        {R::TrashItems{{"/a", "/b c", "/ü"}, 1000}},
        {R::RemoveItems{{}, 4294967295u}},
        {R::ClearProtection{"/x", 1001}},
        {R::TerminateProcess{-1, UINT64_MAX, 9}},
        {R::BootoutLaunchd{"x", LaunchdDomain::system()}},
        {R::BootoutLaunchd{"l", LaunchdDomain::gui(1000)}},
        {R::ForgetReceipt{"com.example.pkg"}},
        {R::RestoreFromTrash{"/h/.Trash/a", "/h/a", 1000}},
    };
    for (const auto& request : requests) {
        expectRoundTrip(request);
    }
    const HelperResponse responses[] = {
        HelperResponse::version(INT64_MIN),
        HelperResponse::done(),
        HelperResponse::error("no"),
        HelperResponse::items({
            {"/a", ItemOutcome::ok(), "/t/a"},
            {"/b", ItemOutcome::notFound(), std::nullopt},
            {"/c", ItemOutcome::policyDenied("because"), "/t"},
            {"/d", ItemOutcome::sipProtected(), std::nullopt},
            {"/e", ItemOutcome::raceDetected(), std::nullopt},
            {"/f", ItemOutcome::failed(-5, "m"), std::nullopt},
        }),
    };
    for (const auto& response : responses) {
        expectRoundTrip(response);
    }
    // The field types the protocol chose; the codec kit's own rules (one case key, an object
    // body, extra members ignored, null for an absent optional) are pinned by its tests.
    for (const char* text : {
             R"({"trashItems":{"paths":["/a"],"uid":-1}})",
             R"({"trashItems":{"paths":["/a"]}})",
             R"({"trashItems":{"paths":"/a","uid":1}})",
             R"({"terminateProcess":{"pid":2147483648,"startTime":1,"signal":15}})",
         }) {
        EXPECT_FALSE(HelperCodec::decode<HelperRequest>(text)) << text;
    }
    EXPECT_EQ(HelperCodec::decode<HelperResponse>(HelperCodec::encodingFailureFallback()).value(),
              HelperResponse::error("the helper could not encode its response"));
}

}  // namespace
}  // namespace kb
