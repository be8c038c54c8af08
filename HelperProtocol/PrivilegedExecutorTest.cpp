#include "HelperProtocol/PrivilegedExecutor.h"

#include <gtest/gtest.h>

namespace kb {
namespace {

// Answers every request with a fixed response (or error), recording what it was sent.
struct InMemoryExecutor : PrivilegedExecutor {
    explicit InMemoryExecutor(ExecutorResult<HelperResponse> fixed) : answer(std::move(fixed)) {}
    ExecutorResult<HelperResponse> send(const HelperRequest& request) override {
        sent.push_back(request);
        return answer;
    }
    ExecutorResult<HelperResponse> answer;
    std::vector<HelperRequest> sent;
};

const ItemResult first{"/a", ItemOutcome::ok(), std::nullopt};
const ItemResult second{"/b", ItemOutcome::failed(1, "x"), std::nullopt};

TEST(PrivilegedExecutor, MapsEachResponseCaseToAResultOrError) {
    using E = PrivilegedExecutorError;
    InMemoryExecutor two(HelperResponse::items({first, second})), none(HelperResponse::items({})),
        done(HelperResponse::done()), refused(HelperResponse::error("refused / here")),
        version(HelperResponse::version(7)), late(fail(E::timeout())),
        gone(fail(E::unavailable("gone")));
    EXPECT_EQ(two.clearProtection("/a", 1000).value(), first);
    EXPECT_EQ(two.sent, (std::vector<HelperRequest>{{HelperRequest::ClearProtection{"/a", 1000}}}));
    EXPECT_EQ(two.removeItems({"/a", "/b"}, 1000).value(),
              (std::vector<ItemResult>{first, second}));
    EXPECT_EQ(two.forgetReceipt("p").error(), E::malformedResponse());
    EXPECT_EQ(none.clearProtection("/a", 1000).error(), E::malformedResponse());
    EXPECT_EQ(none.restoreFromTrash("/t", "/o", 1000).error(), E::malformedResponse());
    EXPECT_TRUE(none.trashItems({}, 1000).value().empty());
    EXPECT_TRUE(done.terminateProcess(5, 6, 15));
    EXPECT_TRUE(done.bootoutLaunchd("l", LaunchdDomain::gui(1000)));
    EXPECT_EQ(done.trashItems({"/a"}, 1000).error(), E::malformedResponse());
    EXPECT_EQ(refused.terminateProcess(5, 6, 15).error(), E::remote("refused / here"));
    EXPECT_EQ(refused.trashItems({"/a"}, 1000).error(), E::remote("refused / here"));
    EXPECT_EQ(version.forgetReceipt("p").error(), E::malformedResponse());
    EXPECT_EQ(late.removeItems({"/a"}, 1000).error(), E::timeout());
    EXPECT_EQ(gone.forgetReceipt("p").error(), E::unavailable("gone"));
}

}  // namespace
}  // namespace kb
