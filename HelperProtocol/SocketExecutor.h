// The application's transport to the helper: a PrivilegedExecutor over the helper's Unix
// socket, with the framing of WireFraming.h.
//
// The connection is made on the first call and again after the helper closed it. Calls
// from several threads share it and may overlap; replies are matched to calls by id. A
// call fails with `unavailable` (with the reason) when the socket cannot be reached or the
// helper closes the connection before replying, and with `timeout` when no reply came
// within the time-out (HelperConstants::requestTimeout by default); a reply that arrives
// after its call timed out is dropped. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "HelperProtocol/HelperConstants.h"
#include "HelperProtocol/PrivilegedExecutor.h"

namespace kb {

class SocketExecutor : public PrivilegedExecutor {
  public:
    struct Options {
        std::string socketPath{HelperConstants::socketPath};
        std::chrono::milliseconds timeout{
            static_cast<std::int64_t>(HelperConstants::requestTimeout * 1000)};
    };

    explicit SocketExecutor(Options options);
    SocketExecutor() : SocketExecutor(Options{}) {}
    ~SocketExecutor() override;
    SocketExecutor(const SocketExecutor&) = delete;
    SocketExecutor& operator=(const SocketExecutor&) = delete;

    ExecutorResult<HelperResponse> send(const HelperRequest& request) override;

    // Closes the connection; calls waiting on it fail with `unavailable`.
    void disconnect() override;

    // The version through the dedicated call (selector 1).
    ExecutorResult<std::int64_t> getVersion();

    // Sends request bytes as they are and gives the response bytes as they came.
    ExecutorResult<std::string> sendBytes(std::string_view requestBytes);

    struct Channel;

  private:
    ExecutorResult<std::string> call(std::uint8_t selector, std::string_view request);
    ExecutorResult<std::shared_ptr<Channel>> channel();

    Options options_;
    std::mutex lock_;
    std::shared_ptr<Channel> channel_;
    std::atomic<std::uint64_t> nextId_{1};
};

}  // namespace kb
