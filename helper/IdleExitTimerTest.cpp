#include "helper/IdleExitTimer.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <thread>
#include <vector>

#include "helper/testing/CapturedLog.h"

namespace kb {
namespace {

// A wall clock the test moves by hand, and an exit action that records instead of ending
// the test process.
struct Harness {
    double now = 1'000'000;
    int exits = 0;
    testing::CapturedLog log;
    IdleExitTimer timer{[this] { return now; }, [this] { ++exits; }};
};

TEST(IdleExitTimer, ExitsOnlyAfterSixtySecondsWithNothingInFlightCountedFromAnyThread) {
    using D = IdleExitTimer::Decision;
    Harness h;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 10000; ++i) {
                    h.timer.beginRequest();
                    h.timer.touch();
                    h.timer.endRequest();
                }
            });
        }
    }
    h.timer.endRequest();  // never below zero
    EXPECT_EQ(h.timer.state().inFlight, 0);
    h.timer.beginRequest();
    h.timer.beginRequest();
    EXPECT_EQ(h.timer.state(), (IdleExitTimer::State{2, h.now}));
    h.now += 600;  // long requests keep the helper alive
    EXPECT_EQ(h.timer.check(), D::rearm);
    h.timer.endRequest();
    EXPECT_EQ(h.timer.check(), D::rearm);
    h.timer.endRequest();
    EXPECT_EQ(h.timer.state(), (IdleExitTimer::State{0, h.now}));
    h.now -= 120;  // the clock was set back: the exit is postponed
    EXPECT_EQ(h.timer.check(), D::rearm);
    h.now += 120 + 59;
    EXPECT_EQ(h.timer.check(), D::rearm);
    h.timer.touch();
    h.now += 59;
    EXPECT_EQ(h.timer.check(), D::rearm);
    EXPECT_TRUE(h.log.records().empty());
    EXPECT_EQ(h.exits, 0);
    h.now += 1;
    EXPECT_EQ(h.timer.check(), D::exit);
    EXPECT_EQ(h.exits, 1);
    EXPECT_EQ(h.log.count("idle for 60.000000s; exiting", LogLevel::standard), 1u);
}

TEST(IdleExitTimer, AStartedTimerChecksOnItsOwnAndRunsTheExitAction) {
    asio::io_context context;
    Harness h;
    h.timer.setExitAction([&] {
        ++h.exits;
        context.stop();
    });
    h.timer.start(context.get_executor());
    h.now += 60;
    context.run_for(IdleExitTimer::checkPeriod + std::chrono::seconds(5));
    EXPECT_EQ(h.exits, 1);
}

}  // namespace
}  // namespace kb
