// The application's side of the protocol: an interface that sends one request and yields
// the helper's response, and one convenience operation per request kind that maps the
// response to a result.
//
// Implementations of send() (the socket transport, or an in-memory one in tests) must be
// callable from several threads at once; each call blocks until its response arrives or
// the transport gives up with `unavailable` or `timeout`.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "HelperProtocol/WireMessages.h"
#include "base/Result.h"

namespace kb {

struct PrivilegedExecutorError {
    struct Remote {
        std::string message;  // the helper's `error` text, unchanged
        bool operator==(const Remote&) const = default;
    };
    struct MalformedResponse {
        bool operator==(const MalformedResponse&) const = default;
    };
    struct Unavailable {
        std::string reason;
        bool operator==(const Unavailable&) const = default;
    };
    struct Timeout {
        bool operator==(const Timeout&) const = default;
    };
    std::variant<Remote, MalformedResponse, Unavailable, Timeout> kind;

    static PrivilegedExecutorError remote(std::string m) { return {Remote{std::move(m)}}; }
    static PrivilegedExecutorError malformedResponse() { return {MalformedResponse{}}; }
    static PrivilegedExecutorError unavailable(std::string r) {
        return {Unavailable{std::move(r)}};
    }
    static PrivilegedExecutorError timeout() { return {Timeout{}}; }

    // A plain sentence for logs and command-line tools.
    std::string describe() const;

    bool operator==(const PrivilegedExecutorError&) const = default;
};

template <class T>
using ExecutorResult = Result<T, PrivilegedExecutorError>;

struct Nothing {
    bool operator==(const Nothing&) const = default;
};

class PrivilegedExecutor {
  public:
    virtual ~PrivilegedExecutor() = default;

    virtual ExecutorResult<HelperResponse> send(const HelperRequest& request) = 0;

    // Does nothing unless a transport has something to let go of.
    virtual void disconnect() {}

    ExecutorResult<std::vector<ItemResult>> trashItems(std::vector<std::string> paths,
                                                       std::uint32_t uid);
    ExecutorResult<std::vector<ItemResult>> removeItems(std::vector<std::string> paths,
                                                        std::uint32_t uid);
    ExecutorResult<ItemResult> clearProtection(std::string path, std::uint32_t uid);
    ExecutorResult<ItemResult> restoreFromTrash(std::string trashedPath, std::string originalPath,
                                                std::uint32_t uid);
    ExecutorResult<Nothing> terminateProcess(std::int32_t pid, std::uint64_t startTime,
                                             std::int32_t signal);
    ExecutorResult<Nothing> bootoutLaunchd(std::string label, LaunchdDomain domain);
    ExecutorResult<Nothing> forgetReceipt(std::string packageID);
};

}  // namespace kb
