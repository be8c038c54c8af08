// A gate that jobs wait at until the test opens it, counting those that reached it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kb::testing {

class Gate {
  public:
    void pass() {
        std::unique_lock guard(lock_);
        ++entered_;
        changed_.notify_all();
        changed_.wait(guard, [&] { return open_; });
    }
    void open() {
        std::lock_guard guard(lock_);
        open_ = true;
        changed_.notify_all();
    }
    // Whether `count` jobs reached the gate within five seconds.
    bool waitEntered(int count) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(5), [&] { return entered_ >= count; });
    }
    int entered() {
        std::lock_guard guard(lock_);
        return entered_;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
    int entered_ = 0;
};

}  // namespace kb::testing
