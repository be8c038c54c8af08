// The client transport against a scripted server on a real Unix socket.
#include "HelperProtocol/SocketExecutor.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "HelperProtocol/WireFraming.h"
#include "platform/UnixSocket.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using namespace std::chrono_literals;

const WireFraming::Greeting admitted{true, {}};

// Accepts connections one after another, greets each and hands it to `serve`.
class ScriptedServer {
  public:
    ScriptedServer(const std::string& path, std::function<void(int fd)> serve,
                   WireFraming::Greeting greeting = admitted) {
        listening_ = std::move(UnixSocket::listenOnPath(path, 0600, 16).value());
        thread_ = std::thread([this, serve = std::move(serve), greeting] {
            for (;;) {
                UniqueFd fd(::accept4(listening_.get(), nullptr, nullptr, SOCK_CLOEXEC));
                if (!fd) {
                    return;
                }
                // A client that writes before the greeting would find its bytes here.
                std::this_thread::sleep_for(20ms);
                char early;
                EXPECT_EQ(::recv(fd.get(), &early, 1, MSG_DONTWAIT), -1);
                ASSERT_TRUE(
                    UnixSocket::sendAll(fd.get(), WireFraming::encodeGreeting(greeting)).ok());
                serve(fd.get());
            }
        });
    }
    ~ScriptedServer() {
        ::shutdown(listening_.get(), SHUT_RDWR);
        thread_.join();
    }

  private:
    UniqueFd listening_;
    std::thread thread_;
};

std::vector<WireFraming::Call> readCalls(int fd, size_t count) {
    WireFraming::FrameReader reader;
    std::vector<WireFraming::Call> calls;
    char buffer[4096];
    while (calls.size() < count) {
        auto body = reader.next();
        if (body.ok() && body->has_value()) {
            calls.push_back(WireFraming::decodeCall(**body).value());
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        reader.append(buffer, static_cast<size_t>(n));
    }
    return calls;
}

// A helper that closes without replying, refuses this program or is absent leaves the
// executor unavailable with the reason (the next call reconnects); a silent or stuck one
// times out in time.
TEST(SocketExecutor, EachWayOfNotAnsweringIsReportedInTimeWithItsReason) {
    testing::TempDir dir;
    int connections = 0;
    ScriptedServer server(dir / "s", [&](int fd) {
        auto calls = readCalls(fd, 1);
        if (++connections == 1 || calls.empty()) {
            return;  // closes without replying
        }
        ASSERT_TRUE(UnixSocket::sendAll(fd, WireFraming::encodeVersionReply(calls[0].id, 7)).ok());
        std::this_thread::sleep_for(50ms);
    });
    SocketExecutor executor({dir / "s", 5s});
    EXPECT_EQ(
        executor.getVersion().error(),
        PrivilegedExecutorError::unavailable("the helper closed the connection without replying"));
    EXPECT_EQ(executor.getVersion().value(), 7);

    const std::string reason = "this program is not admitted: the executable is not attested";
    ScriptedServer refusing(
        dir / "refusing", [](int) {}, WireFraming::Greeting{false, reason});
    SocketExecutor refused({dir / "refusing", 5s});
    EXPECT_EQ(refused.getVersion().error(), PrivilegedExecutorError::unavailable(reason));
    EXPECT_EQ(refused.refusal(), reason);
    EXPECT_EQ(executor.refusal(), std::nullopt);

    SocketExecutor absent({dir / "absent.sock", 5s});
    EXPECT_EQ(absent.getVersion().error(),
              PrivilegedExecutorError::unavailable("cannot connect to " + (dir / "absent.sock") +
                                                   ": No such file or directory"));
    EXPECT_EQ(absent.refusal(), std::nullopt);

    // The second does not even read the large request; it holds the connection for 3 s.
    ScriptedServer silent(dir / "silent", [](int fd) { readCalls(fd, 2); });
    ScriptedServer stuck(dir / "stuck", [](int) { std::this_thread::sleep_for(3s); });
    SocketExecutor quiet({dir / "silent", 200ms});
    SocketExecutor full({dir / "stuck", 300ms});
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(quiet.send({HelperRequest::GetVersion{}}).error(),
              PrivilegedExecutorError::timeout());
    EXPECT_GE(std::chrono::steady_clock::now() - before, 200ms);
    quiet.disconnect();
    EXPECT_EQ(full.sendBytes(std::string(32 << 20, 'x')).error(),
              PrivilegedExecutorError::timeout());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2500ms);
}

TEST(SocketExecutor, ConcurrentCallsGetTheirOwnRepliesWhateverTheOrder) {
    testing::TempDir dir;
    constexpr size_t callers = 16;
    ScriptedServer server(dir / "s", [](int fd) {
        auto calls = readCalls(fd, callers);
        std::reverse(calls.begin(), calls.end());
        std::string replies;
        for (const auto& call : calls) {
            // The response echoes the request, so each caller can recognise its own.
            replies += WireFraming::encodeResponseReply(call.id, call.request);
        }
        ASSERT_TRUE(UnixSocket::sendAll(fd, replies).ok());
        readCalls(fd, 1);
    });
    SocketExecutor executor({dir / "s", 10s});
    std::vector<std::jthread> threads;
    for (size_t i = 0; i < callers; ++i) {
        threads.emplace_back([&, i] {
            const std::string request = "request " + std::to_string(i);
            auto r = executor.sendBytes(request);
            EXPECT_EQ(r.ok() ? *r : r.error().describe(), request);
        });
    }
}

}  // namespace
}  // namespace kb
