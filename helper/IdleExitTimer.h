// Ends the service when it has had nothing to do for a while.
//
// The timer keeps the number of `perform` calls in flight and the wall-clock time of the
// last activity, under one mutex that is never held across a call out. Checks run every
// 5 seconds (monotonic clock) on the timer's own strand; a check that finds nothing in
// flight and the last activity 60 seconds or more in the past logs "idle for 60.000000s;
// exiting" and runs the exit action (in the service: stop accepting, tell the service
// manager, exit(0)). Thread-safe.
#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace kb {

class IdleExitTimer {
  public:
    struct State {
        std::int64_t inFlight = 0;
        double lastActivity = 0;  // wall clock, seconds since the epoch
        bool operator==(const State&) const = default;
    };

    using WallClock = std::function<double()>;
    using ExitAction = std::function<void()>;

    static constexpr std::chrono::seconds checkPeriod{5};

    // Tests pass a clock they control and an exit action that records instead of exiting.
    explicit IdleExitTimer(WallClock clock = systemWallClock, ExitAction exitAction = exitNow);

    // The process's timer; created on first use, never destroyed.
    static IdleExitTimer& shared();

    void touch();
    void beginRequest();
    void endRequest();
    State state() const;

    enum class Decision { rearm, exit };

    // One check: decides under the lock, then logs and runs the exit action if idle.
    Decision check();

    // Arms the first check `checkPeriod` from now on a strand of `executor`; each check
    // that does not exit arms the next.
    void start(const asio::any_io_executor& executor);

    // Replaces the exit action (the service sets one that first stops accepting).
    void setExitAction(ExitAction exitAction);

    static double systemWallClock();
    [[noreturn]] static void exitNow();

  private:
    void scheduleCheck();

    WallClock clock_;
    mutable std::mutex lock_;
    State state_;
    ExitAction exitAction_;
    std::optional<asio::strand<asio::any_io_executor>> strand_;
    std::optional<asio::steady_timer> timer_;
};

}  // namespace kb
