// The process-wide pool of worker threads on which requests run as jobs. Created on first
// use, lives until the process ends. Jobs of different requests may run at the same time;
// a job must not wait on another job of the pool.
#pragma once

#include <asio/thread_pool.hpp>
#include <functional>

namespace kb::WorkerPool {

asio::thread_pool& shared();

// Runs `job` on a worker thread, never on the caller's.
void run(std::function<void()> job);

}  // namespace kb::WorkerPool
