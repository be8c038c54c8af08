#include "helper/HelperService.h"

#include <gtest/gtest.h>

#include <future>

#include "HelperProtocol/HelperCodec.h"
#include "HelperProtocol/HelperConstants.h"
#include "helper/testing/CapturedLog.h"
#include "helper/testing/Gate.h"

namespace kb {
namespace {

using R = HelperRequest;

// The root operations, which have their own tests, stand in as a recorder.
TEST(HelperService, OnlyADecodableRequestForThePeersOwnUidReachesTheOperations) {
    IdleExitTimer timer;
    std::vector<HelperRequest> seen;
    HelperService service(
        Caller{0, 1000, 0, "", nullptr},
        [&](const HelperRequest& r, const Caller&) {
            seen.push_back(r);
            return HelperResponse::done();
        },
        timer);
    for (const std::string& bytes : {std::string("0123456789"), std::string()}) {
        testing::CapturedLog logs;
        EXPECT_EQ(service.handle(bytes),
                  HelperResponse::error("this helper cannot decode the request"));
        EXPECT_EQ(logs.records(),
                  (std::vector<LogRecord>{
                      {"service", LogLevel::error,
                       "undecodable request of " + std::to_string(bytes.size()) + " bytes"}}));
    }
    const HelperRequest mine{R::TrashItems{{"/home/a/x"}, 1000}};
    EXPECT_EQ(
        service.handle(HelperCodec::encode(HelperRequest{R::TrashItems{{"/x"}, 1001}}).value()),
        HelperResponse::error("uid 1001 is not a user account this helper will act for"));
    EXPECT_EQ(service.handle(HelperCodec::encode(mine).value()), HelperResponse::done());
    EXPECT_EQ(seen, std::vector<HelperRequest>{mine});
}

TEST(HelperService, APerformCallIsInFlightUntilItsReplyIsWrittenAndVersionOnlyTouchesTheTimer) {
    double now = 100;
    IdleExitTimer timer([&] { return now; }, [] {});
    testing::Gate gate;
    HelperService service(
        Caller{},
        [&](const HelperRequest&, const Caller&) {
            gate.pass();
            return HelperResponse::version(5);
        },
        timer);
    std::vector<std::promise<std::pair<std::string, std::function<void()>>>> replies(2);
    for (auto& reply : replies) {
        service.perform(R"({"getVersion":{}})", [&reply](std::string r, std::function<void()> w) {
            reply.set_value({std::move(r), std::move(w)});
        });
    }
    EXPECT_EQ(timer.state().inFlight, 2);
    now = 10'000;
    gate.open();
    for (auto& reply : replies) {
        auto [response, written] = reply.get_future().get();
        EXPECT_EQ(response, R"({"version":{"_0":5}})");
        EXPECT_GE(timer.state().inFlight, 1);  // not before the write
        written();
    }
    EXPECT_EQ(timer.state(), (IdleExitTimer::State{0, 10'000}));
    now = 20'000;
    EXPECT_EQ(service.getVersion(), HelperConstants::buildVersion());
    EXPECT_EQ(timer.state(), (IdleExitTimer::State{0, 20'000}));
}

}  // namespace
}  // namespace kb
