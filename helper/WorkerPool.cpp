#include "helper/WorkerPool.h"

#include <algorithm>
#include <asio/post.hpp>
#include <thread>

namespace kb {

FairScheduler::FairScheduler(asio::thread_pool& pool, size_t runningPerUid)
    : pool_(pool), runningPerUid_(std::max<size_t>(1, runningPerUid)) {}

void FairScheduler::run(std::uint32_t uid, std::function<void()> job) {
    {
        std::lock_guard guard(lock_);
        Queue& queue = queues_[uid];
        if (queue.running >= runningPerUid_) {
            queue.waiting.push_back(std::move(job));
            return;
        }
        ++queue.running;
    }
    post(uid, std::move(job));
}

void FairScheduler::post(std::uint32_t uid, std::function<void()> job) {
    asio::post(pool_, [this, uid, job = std::move(job)] {
        job();
        finished(uid);
    });
}

void FairScheduler::finished(std::uint32_t uid) {
    std::function<void()> next;
    {
        std::lock_guard guard(lock_);
        auto found = queues_.find(uid);
        Queue& queue = found->second;
        if (queue.waiting.empty()) {
            if (--queue.running == 0) {
                queues_.erase(found);
            }
            return;
        }
        next = std::move(queue.waiting.front());
        queue.waiting.pop_front();
    }
    post(uid, std::move(next));
}

namespace WorkerPool {

asio::thread_pool& shared() {
    // Deliberately never destroyed: the process ends with exit(), possibly while a job runs.
    static auto* pool =
        new asio::thread_pool(std::clamp(std::thread::hardware_concurrency(), 4u, 8u));
    return *pool;
}

void run(std::function<void()> job) {
    asio::post(shared(), std::move(job));
}

void run(std::uint32_t uid, std::function<void()> job) {
    static auto* scheduler = new FairScheduler(shared());
    scheduler->run(uid, std::move(job));
}

}  // namespace WorkerPool
}  // namespace kb
