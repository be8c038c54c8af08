// The fair scheduler on a real thread pool, with jobs that block until released.
#include "helper/WorkerPool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace kb {
namespace {

using namespace std::chrono_literals;

TEST(FairScheduler, OneUidsFloodLeavesRoomForAnotherUid) {
    asio::thread_pool pool(4);
    FairScheduler scheduler(pool);
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    int running = 0, mostRunning = 0, done = 0;
    auto slow = [&] {
        std::unique_lock guard(lock);
        mostRunning = std::max(mostRunning, ++running);
        changed.notify_all();
        changed.wait(guard, [&] { return open; });
        --running;
        ++done;
        changed.notify_all();
    };
    for (int i = 0; i < 20; ++i) {
        scheduler.run(1001, slow);
    }
    std::promise<void> answered;
    scheduler.run(1002, [&] { answered.set_value(); });
    // Two of the flood run and hold their threads; the other uid's job is not behind them.
    EXPECT_EQ(answered.get_future().wait_for(1s), std::future_status::ready);
    {
        std::unique_lock guard(lock);
        EXPECT_TRUE(changed.wait_for(guard, 5s, [&] { return running == 2; }));
        open = true;
        changed.notify_all();
        EXPECT_TRUE(changed.wait_for(guard, 10s, [&] { return done == 20; }));
    }
    EXPECT_EQ(mostRunning, 2);
    pool.join();
}

}  // namespace
}  // namespace kb
