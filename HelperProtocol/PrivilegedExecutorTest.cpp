#include "HelperProtocol/PrivilegedExecutor.h"

#include <gtest/gtest.h>

#include <functional>

namespace kb {
namespace {

// Answers every request with a fixed response (or error), recording what it was sent.
class InMemoryExecutor : public PrivilegedExecutor {
  public:
    explicit InMemoryExecutor(ExecutorResult<HelperResponse> answer) : answer_(std::move(answer)) {}
    ExecutorResult<HelperResponse> send(const HelperRequest& request) override {
        sent.push_back(request);
        return answer_;
    }
    std::vector<HelperRequest> sent;

  private:
    ExecutorResult<HelperResponse> answer_;
};

const ItemResult first{"/a", ItemOutcome::ok(), std::nullopt};
const ItemResult second{"/b", ItemOutcome::failed(1, "x"), std::nullopt};

TEST(PrivilegedExecutor, MapsEachResponseCaseToAResultOrError) {
    using E = PrivilegedExecutorError;
    const auto items2 = HelperResponse::items({first, second});
    const auto items0 = HelperResponse::items({});
    const auto done = HelperResponse::done();
    const auto error = HelperResponse::error("refused / here");

    {
        InMemoryExecutor x(items2);
        auto r = x.clearProtection("/a", 1000);
        ASSERT_TRUE(r);
        EXPECT_EQ(*r, first);
        ASSERT_EQ(x.sent.size(), 1u);
        EXPECT_EQ(x.sent[0], (HelperRequest{HelperRequest::ClearProtection{"/a", 1000}}));
    }
    {
        InMemoryExecutor x(items0);
        EXPECT_EQ(x.clearProtection("/a", 1000).error(), E::malformedResponse());
        EXPECT_EQ(x.restoreFromTrash("/t", "/o", 1000).error(), E::malformedResponse());
        auto all = x.trashItems({}, 1000);
        ASSERT_TRUE(all);
        EXPECT_TRUE(all->empty());
    }
    {
        InMemoryExecutor x(items2);
        EXPECT_EQ(x.removeItems({"/a", "/b"}, 1000).value(),
                  (std::vector<ItemResult>{first, second}));
        EXPECT_EQ(x.forgetReceipt("p").error(), E::malformedResponse());
    }
    {
        InMemoryExecutor x(done);
        EXPECT_TRUE(x.terminateProcess(5, 6, 15));
        EXPECT_TRUE(x.bootoutLaunchd("l", LaunchdDomain::gui(1000)));
        EXPECT_EQ(x.trashItems({"/a"}, 1000).error(), E::malformedResponse());
    }
    {
        InMemoryExecutor x(error);
        EXPECT_EQ(x.terminateProcess(5, 6, 15).error(), E::remote("refused / here"));
        EXPECT_EQ(x.trashItems({"/a"}, 1000).error(), E::remote("refused / here"));
    }
    {
        InMemoryExecutor x(HelperResponse::version(7));
        EXPECT_EQ(x.forgetReceipt("p").error(), E::malformedResponse());
    }
    {
        InMemoryExecutor x(fail(E::timeout()));
        EXPECT_EQ(x.removeItems({"/a"}, 1000).error(), E::timeout());
        InMemoryExecutor y(fail(E::unavailable("gone")));
        EXPECT_EQ(y.forgetReceipt("p").error(), E::unavailable("gone"));
    }
}

}  // namespace
}  // namespace kb
