// The application's transport to the helper: a PrivilegedExecutor over the helper's Unix
// socket, with the framing of WireFraming.h.
//
// The connection is made on the first call and again after the helper closed it; a call
// is written only after the helper's greeting admitted the connection. Calls from several
// threads share it and may overlap; replies are matched to calls by id. A call fails with
// `unavailable` when the socket cannot be reached ("cannot connect to PATH: ..."; the
// helper is not running), when the helper refused this program (its greeting's words, and
// `refusal()` tells them), or when it closes the connection before replying; and with
// `timeout` when the greeting, the writing of the call (which waits while the helper
// holds back a busy client) and the reply together took longer than the time-out
// (HelperConstants::requestTimeout by default). A reply that arrives after its call timed
// out is dropped. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
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

    // Why the helper refused the last connection made, when it did.
    std::optional<std::string> refusal() const;

    struct Channel;

  private:
    ExecutorResult<std::string> call(std::uint8_t selector, std::string_view request);
    ExecutorResult<std::shared_ptr<Channel>> channel();

    Options options_;
    mutable std::mutex lock_;
    std::shared_ptr<Channel> channel_;
    std::atomic<std::uint64_t> nextId_{1};
};

}  // namespace kb
