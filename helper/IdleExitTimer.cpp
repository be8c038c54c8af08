#include "helper/IdleExitTimer.h"

#include <asio/bind_executor.hpp>
#include <cstdlib>

#include "HelperProtocol/HelperConstants.h"
#include "helper/Logger.h"

namespace kb {

IdleExitTimer::IdleExitTimer(WallClock clock, ExitAction exitAction)
    : clock_(std::move(clock)), exitAction_(std::move(exitAction)) {
    state_.lastActivity = clock_();
}

IdleExitTimer& IdleExitTimer::shared() {
    static auto* timer = new IdleExitTimer();
    return *timer;
}

double IdleExitTimer::systemWallClock() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

void IdleExitTimer::exitNow() {
    std::exit(0);
}

void IdleExitTimer::touch() {
    const double now = clock_();
    std::lock_guard guard(lock_);
    state_.lastActivity = now;
}

void IdleExitTimer::beginRequest() {
    const double now = clock_();
    std::lock_guard guard(lock_);
    if (state_.inFlight == INT64_MAX) {
        std::abort();
    }
    ++state_.inFlight;
    state_.lastActivity = now;
}

void IdleExitTimer::endRequest() {
    const double now = clock_();
    std::lock_guard guard(lock_);
    if (state_.inFlight > 0) {
        --state_.inFlight;
    }
    state_.lastActivity = now;
}

IdleExitTimer::State IdleExitTimer::state() const {
    std::lock_guard guard(lock_);
    return state_;
}

void IdleExitTimer::setExitAction(ExitAction exitAction) {
    std::lock_guard guard(lock_);
    exitAction_ = std::move(exitAction);
}

IdleExitTimer::Decision IdleExitTimer::check() {
    ExitAction action;
    const double now = clock_();
    {
        std::lock_guard guard(lock_);
        if (state_.inFlight != 0 || now - state_.lastActivity < HelperConstants::idleExitInterval) {
            return Decision::rearm;
        }
        action = exitAction_;
    }
    serviceLogger().notice("idle for " + std::to_string(HelperConstants::idleExitInterval) +
                           "s; exiting");
    if (action) {
        action();
    }
    return Decision::exit;
}

void IdleExitTimer::start(const asio::any_io_executor& executor) {
    strand_.emplace(asio::make_strand(executor));
    timer_.emplace(*strand_);
    scheduleCheck();
}

void IdleExitTimer::scheduleCheck() {
    timer_->expires_after(checkPeriod);
    timer_->async_wait(asio::bind_executor(*strand_, [this](const std::error_code& error) {
        if (error) {
            return;
        }
        if (check() == Decision::rearm) {
            scheduleCheck();
        }
    }));
}

}  // namespace kb
