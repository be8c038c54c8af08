// Arbitrary bytes, written in pieces through a real socket pair into the connection
// handler after its greeting: it must not crash, and every well-formed call before the
// first violation gets exactly one reply, after which the connection is closed.
//
// The root operations are replaced by a fixed answer: the fuzzer must not act on files.
#include <sys/socket.h>

#include <asio/io_context.hpp>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <thread>

#include "HelperProtocol/WireFraming.h"
#include "helper/Connection.h"
#include "helper/Logger.h"
#include "platform/UnixSocket.h"

namespace {

using namespace kb;

// The calls a correct server must answer: well-formed frames up to the first violation.
std::multiset<std::uint64_t> expectedIds(std::string_view bytes) {
    WireFraming::FrameReader reader;
    reader.append(bytes.data(), bytes.size());
    std::multiset<std::uint64_t> ids;
    for (;;) {
        auto body = reader.next();
        if (!body || !body->has_value()) {
            return ids;
        }
        auto call = WireFraming::decodeCall(**body);
        if (!call) {
            return ids;
        }
        ids.insert(call->id);
    }
}

// This process (the writer of every byte), with another uid than root's.
Caller peerWithUid(std::uint32_t uid) {
    Caller peer = Caller::currentProcess();
    peer.uid = uid;
    return peer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    static const bool quiet = [] {
        setLogSink([](const LogRecord&) {});
        return true;
    }();
    (void)quiet;
    static IdleExitTimer timer(IdleExitTimer::systemWallClock, [] {});
    const size_t piece = 1 + data[0] % 17;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        std::abort();
    }
    UniqueFd client(fds[1]);
    asio::io_context context;
    Connection::start(
        Connection::Socket(context, asio::local::stream_protocol(), fds[0]),
        HelperService(
            peerWithUid(1000),
            [](const HelperRequest&, const Caller&) { return HelperResponse::done(); }, timer),
        Connection::Limits{.maximumInFlight = 4,
                           .partialFrameTimeout = std::chrono::milliseconds(50)});
    std::thread server([&] { context.run(); });
    WireFraming::FrameReader replies;
    char buffer[65536];
    for (;;) {
        auto greeting = replies.next();
        if (!greeting) {
            std::abort();
        }
        if (greeting->has_value()) {
            auto decoded = WireFraming::decodeGreeting(**greeting);
            if (!decoded || !decoded->admitted) {
                std::abort();
            }
            break;
        }
        const ssize_t n = ::recv(client.get(), buffer, sizeof buffer, 0);
        if (n <= 0) {
            std::abort();
        }
        replies.append(buffer, static_cast<size_t>(n));
    }
    std::thread writer([&] {
        for (size_t at = 0; at < bytes.size(); at += piece) {
            if (!UnixSocket::sendAll(client.get(), bytes.substr(at, piece)).ok()) {
                break;
            }
        }
        ::shutdown(client.get(), SHUT_WR);
    });

    std::multiset<std::uint64_t> answered;
    for (;;) {
        const ssize_t n = ::recv(client.get(), buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        replies.append(buffer, static_cast<size_t>(n));
        for (;;) {
            auto body = replies.next();
            if (!body) {
                std::abort();
            }
            if (!body->has_value()) {
                break;
            }
            auto reply = WireFraming::decodeReply(**body);
            if (!reply) {
                std::abort();
            }
            answered.insert(reply->id);
        }
    }
    writer.join();
    server.join();
    if (replies.holdsPartialFrame() || answered != expectedIds(bytes)) {
        std::abort();
    }
    return 0;
}
