#include "HelperProtocol/SocketExecutor.h"

#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <future>
#include <optional>
#include <thread>
#include <unordered_map>
#include <variant>

#include "HelperProtocol/HelperCodec.h"
#include "HelperProtocol/WireFraming.h"
#include "platform/UnixSocket.h"

namespace kb {

using Outcome = std::variant<std::string, PrivilegedExecutorError>;

struct SocketExecutor::Channel {
    UniqueFd fd;
    std::timed_mutex writeLock;
    std::mutex pendingLock;
    std::condition_variable admittedOrClosed;  // with pendingLock
    std::unordered_map<std::uint64_t, std::promise<Outcome>> pending;
    bool admitted = false;               // under pendingLock
    bool closed = false;                 // under pendingLock
    std::string closeReason;             // under pendingLock
    std::optional<std::string> refusal;  // under pendingLock
    std::thread reader;

    // Fails every waiting call and refuses new ones.
    void close(const std::string& reason) {
        std::unordered_map<std::uint64_t, std::promise<Outcome>> failed;
        {
            std::lock_guard guard(pendingLock);
            if (!closed) {
                closed = true;
                closeReason = reason;
            }
            failed.swap(pending);
        }
        admittedOrClosed.notify_all();
        for (auto& [id, promise] : failed) {
            promise.set_value(PrivilegedExecutorError::unavailable(reason));
        }
    }

    // The first frame is the greeting; false when it ends the connection.
    bool greeted(std::string_view body, std::string& reason) {
        auto greeting = WireFraming::decodeGreeting(body);
        if (!greeting) {
            reason = "the helper sent a malformed greeting";
            return false;
        }
        std::lock_guard guard(pendingLock);
        if (!greeting->admitted) {
            refusal = greeting->refusal;
            reason = greeting->refusal;
            return false;
        }
        admitted = true;
        admittedOrClosed.notify_all();
        return true;
    }

    void readReplies() {
        WireFraming::FrameReader frames;
        char buffer[65536];
        std::string reason = "the helper closed the connection without replying";
        bool greetingRead = false;
        for (;;) {
            const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            frames.append(buffer, static_cast<size_t>(n));
            bool ended = false;
            for (;;) {
                auto body = frames.next();
                if (!body || !body->has_value()) {
                    if (!body) {
                        reason = "the helper sent a malformed frame";
                        ended = true;
                    }
                    break;
                }
                if (!greetingRead) {
                    greetingRead = true;
                    if (!greeted(**body, reason)) {
                        ended = true;
                        break;
                    }
                    continue;
                }
                auto reply = WireFraming::decodeReply(**body);
                if (!reply) {
                    reason = "the helper sent a malformed frame";
                    ended = true;
                    break;
                }
                std::promise<Outcome> promise;
                {
                    std::lock_guard guard(pendingLock);
                    auto found = pending.find(reply->id);
                    if (found == pending.end()) {
                        continue;
                    }
                    promise = std::move(found->second);
                    pending.erase(found);
                }
                promise.set_value(std::move(reply->payload));
            }
            if (ended) {
                break;
            }
        }
        ::shutdown(fd.get(), SHUT_RDWR);
        close(reason);
    }
};

SocketExecutor::SocketExecutor(Options options) : options_(std::move(options)) {}

SocketExecutor::~SocketExecutor() {
    disconnect();
}

void SocketExecutor::disconnect() {
    std::shared_ptr<Channel> old;
    {
        std::lock_guard guard(lock_);
        old = std::move(channel_);
    }
    if (old) {
        ::shutdown(old->fd.get(), SHUT_RDWR);
        if (old->reader.joinable()) {
            old->reader.join();
        }
        old->close("the connection was closed by the client");
    }
}

ExecutorResult<std::shared_ptr<SocketExecutor::Channel>> SocketExecutor::channel() {
    std::shared_ptr<Channel> stale;
    std::lock_guard guard(lock_);
    if (channel_) {
        std::lock_guard pendingGuard(channel_->pendingLock);
        if (!channel_->closed) {
            return channel_;
        }
    }
    stale = std::move(channel_);
    if (stale && stale->reader.joinable()) {
        // The reader has finished (the channel is closed); joining does not wait long.
        stale->reader.join();
    }
    auto fd = UnixSocket::connectToPath(options_.socketPath);
    if (!fd) {
        return fail(PrivilegedExecutorError::unavailable(
            "cannot connect to " + options_.socketPath + ": " + fd.error().message()));
    }
    auto fresh = std::make_shared<Channel>();
    fresh->fd = std::move(*fd);
    fresh->reader = std::thread([raw = fresh.get()] { raw->readReplies(); });
    channel_ = fresh;
    return fresh;
}

ExecutorResult<std::string> SocketExecutor::call(std::uint8_t selector, std::string_view request) {
    const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
    auto connected = channel();
    if (!connected) {
        return fail(connected.error());
    }
    Channel& ch = **connected;
    const std::uint64_t id = nextId_++;
    std::future<Outcome> future;
    {
        std::unique_lock guard(ch.pendingLock);
        if (!ch.admittedOrClosed.wait_until(guard, deadline,
                                            [&] { return ch.admitted || ch.closed; })) {
            return fail(PrivilegedExecutorError::timeout());
        }
        if (ch.closed) {
            return fail(PrivilegedExecutorError::unavailable(ch.closeReason));
        }
        future = ch.pending[id].get_future();
    }
    auto forget = [&] {
        std::lock_guard guard(ch.pendingLock);
        return ch.pending.erase(id) == 1;
    };
    WireFraming::Call frame{id, static_cast<WireFraming::Selector>(selector), std::string()};
    frame.request.assign(request);
    const std::string bytes = WireFraming::encodeCall(frame);
    {
        std::unique_lock writing(ch.writeLock, deadline);
        if (!writing.owns_lock()) {
            if (forget()) {
                return fail(PrivilegedExecutorError::timeout());
            }
        } else if (auto sent = UnixSocket::sendAll(ch.fd.get(), bytes, deadline); !sent) {
            // Part of the frame may be out: the connection cannot carry another call. The
            // reader sees the end and fails the other calls; this one fails here unless the
            // reader was first.
            const bool stillPending = forget();
            ::shutdown(ch.fd.get(), SHUT_RDWR);
            if (stillPending) {
                return fail(sent.error().code == ETIMEDOUT
                                ? PrivilegedExecutorError::timeout()
                                : PrivilegedExecutorError::unavailable(
                                      "the helper closed the connection without replying"));
            }
        }
    }
    if (future.wait_until(deadline) != std::future_status::ready) {
        if (forget()) {
            return fail(PrivilegedExecutorError::timeout());
        }
        // The reply arrived just now.
    }
    Outcome outcome = future.get();
    if (auto* error = std::get_if<PrivilegedExecutorError>(&outcome)) {
        return fail(std::move(*error));
    }
    return std::get<std::string>(std::move(outcome));
}

std::optional<std::string> SocketExecutor::refusal() const {
    std::lock_guard guard(lock_);
    if (!channel_) {
        return std::nullopt;
    }
    std::lock_guard pendingGuard(channel_->pendingLock);
    return channel_->refusal;
}

ExecutorResult<std::string> SocketExecutor::sendBytes(std::string_view requestBytes) {
    return call(static_cast<std::uint8_t>(WireFraming::Selector::perform), requestBytes);
}

ExecutorResult<std::int64_t> SocketExecutor::getVersion() {
    auto payload = call(static_cast<std::uint8_t>(WireFraming::Selector::getVersion), {});
    if (!payload) {
        return fail(payload.error());
    }
    auto version = WireFraming::decodeVersion(*payload);
    if (!version) {
        return fail(PrivilegedExecutorError::malformedResponse());
    }
    return *version;
}

ExecutorResult<HelperResponse> SocketExecutor::send(const HelperRequest& request) {
    auto bytes = HelperCodec::encode(request);
    if (!bytes) {
        return fail(PrivilegedExecutorError::unavailable("the request cannot be encoded"));
    }
    auto response = sendBytes(*bytes);
    if (!response) {
        return fail(response.error());
    }
    auto decoded = HelperCodec::decode<HelperResponse>(*response);
    if (!decoded) {
        return fail(PrivilegedExecutorError::malformedResponse());
    }
    return std::move(*decoded);
}

}  // namespace kb
