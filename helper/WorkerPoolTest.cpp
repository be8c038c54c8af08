// The fair scheduler on a real thread pool, with jobs that block until released.
#include "helper/WorkerPool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "helper/testing/Gate.h"

namespace kb {
namespace {

using namespace std::chrono_literals;

TEST(FairScheduler, OneUidsFloodLeavesRoomForAnotherUid) {
    asio::thread_pool pool(4);
    FairScheduler scheduler(pool);
    testing::Gate gate;
    for (int i = 0; i < 20; ++i) {
        scheduler.run(1001, [&] { gate.pass(); });
    }
    std::promise<void> answered;
    scheduler.run(1002, [&] { answered.set_value(); });
    // Two of the flood run and hold their threads; the other uid's job is not behind them.
    EXPECT_EQ(answered.get_future().wait_for(1s), std::future_status::ready);
    ASSERT_TRUE(gate.waitEntered(2));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(gate.entered(), 2);
    gate.open();
    pool.join();
    EXPECT_EQ(gate.entered(), 20);
}

}  // namespace
}  // namespace kb
