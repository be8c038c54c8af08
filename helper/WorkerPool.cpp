#include "helper/WorkerPool.h"

#include <algorithm>
#include <asio/post.hpp>
#include <thread>

namespace kb::WorkerPool {

asio::thread_pool& shared() {
    // Deliberately never destroyed: the process ends with exit(), possibly while a job runs.
    static auto* pool = new asio::thread_pool(std::max(4u, std::thread::hardware_concurrency()));
    return *pool;
}

void run(std::function<void()> job) {
    asio::post(shared(), std::move(job));
}

}  // namespace kb::WorkerPool
