#include "HelperProtocol/SocketExecutor.h"

#include <sys/socket.h>

#include <cerrno>
#include <future>
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
    std::mutex writeLock;
    std::mutex pendingLock;
    std::unordered_map<std::uint64_t, std::promise<Outcome>> pending;
    bool closed = false;  // under pendingLock
    std::thread reader;

    // Fails every waiting call and refuses new ones.
    void close(const std::string& reason) {
        std::unordered_map<std::uint64_t, std::promise<Outcome>> failed;
        {
            std::lock_guard guard(pendingLock);
            closed = true;
            failed.swap(pending);
        }
        for (auto& [id, promise] : failed) {
            promise.set_value(PrivilegedExecutorError::unavailable(reason));
        }
    }

    void readReplies() {
        WireFraming::FrameReader frames;
        char buffer[65536];
        std::string reason = "the helper closed the connection without replying";
        for (;;) {
            const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            frames.append(buffer, static_cast<size_t>(n));
            bool violated = false;
            for (;;) {
                auto body = frames.next();
                if (!body || !body->has_value()) {
                    violated = !body;
                    break;
                }
                auto reply = WireFraming::decodeReply(**body);
                if (!reply) {
                    violated = true;
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
            if (violated) {
                reason = "the helper sent a malformed frame";
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
    auto connected = channel();
    if (!connected) {
        return fail(connected.error());
    }
    Channel& ch = **connected;
    const std::uint64_t id = nextId_++;
    std::future<Outcome> future;
    {
        std::lock_guard guard(ch.pendingLock);
        if (ch.closed) {
            return fail(PrivilegedExecutorError::unavailable(
                "the helper closed the connection without replying"));
        }
        future = ch.pending[id].get_future();
    }
    WireFraming::Call frame{id, static_cast<WireFraming::Selector>(selector), std::string()};
    frame.request.assign(request);
    Result<void, SystemError> sent = [&] {
        std::lock_guard guard(ch.writeLock);
        return UnixSocket::sendAll(ch.fd.get(), WireFraming::encodeCall(frame));
    }();
    if (!sent) {
        // The reader sees the same end and fails the call; wait for that below.
        ::shutdown(ch.fd.get(), SHUT_RDWR);
    }
    if (future.wait_for(options_.timeout) != std::future_status::ready) {
        {
            std::lock_guard guard(ch.pendingLock);
            if (ch.pending.erase(id) == 1) {
                return fail(PrivilegedExecutorError::timeout());
            }
        }
        // The reply arrived just now.
    }
    Outcome outcome = future.get();
    if (auto* error = std::get_if<PrivilegedExecutorError>(&outcome)) {
        return fail(std::move(*error));
    }
    return std::get<std::string>(std::move(outcome));
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
