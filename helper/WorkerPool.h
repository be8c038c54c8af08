// The process-wide pool of worker threads on which requests run as jobs. Created on first
// use, lives until the process ends. Jobs of different requests may run at the same time;
// a job must not wait on another job of the pool.
//
// Requests are shared fairly between users: at most two jobs of one uid run at a time;
// the others wait in that uid's own queue, in order, and each finished job lets the next
// of its uid in behind the jobs of other uids already waiting for a thread, so one uid's
// flood never holds every thread.
#pragma once

#include <asio/thread_pool.hpp>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace kb {

class FairScheduler {
  public:
    explicit FairScheduler(asio::thread_pool& pool, size_t runningPerUid = 2);

    void run(std::uint32_t uid, std::function<void()> job);

  private:
    struct Queue {
        size_t running = 0;
        std::deque<std::function<void()>> waiting;
    };

    void post(std::uint32_t uid, std::function<void()> job);
    void finished(std::uint32_t uid);

    asio::thread_pool& pool_;
    size_t runningPerUid_;
    std::mutex lock_;
    std::map<std::uint32_t, Queue> queues_;
};

namespace WorkerPool {

// At least 4 threads, at most 8: with the request budget, what the service unit's memory
// and task limits were sized for.
asio::thread_pool& shared();

// Runs `job` on a worker thread, never on the caller's.
void run(std::function<void()> job);

// The same, for a request of `uid`, through the pool's fair scheduler.
void run(std::uint32_t uid, std::function<void()> job);

}  // namespace WorkerPool
}  // namespace kb
