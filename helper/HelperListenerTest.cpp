// Connection admission with real sockets. The peer is the test process itself, run by root,
// which the production check admits unattested; attested clients are the service tests'.
#include "helper/HelperListener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "helper/testing/CapturedLog.h"
#include "helper/testing/FrameClient.h"
#include "platform/UnixSocket.h"
#include "testing/TempDir.h"

namespace kb {
namespace {

using namespace std::chrono_literals;
using WireFraming::Selector;

// A job of the shared worker pool may still hold its connection when a test ends; the
// context the connection's timers belong to is kept until the process ends, as the helper's.
asio::io_context& lastingContext() {
    static auto* contexts = new std::vector<std::unique_ptr<asio::io_context>>();
    return *contexts->emplace_back(std::make_unique<asio::io_context>());
}

struct ListenerHarness {
    testing::TempDir dir;
    std::string path = dir / "s";
    asio::io_context& context = lastingContext();
    std::shared_ptr<HelperListener> listener;
    std::thread runner;
    testing::CapturedLog log;

    explicit ListenerHarness(HelperListener::Options options) {
        listener = std::make_shared<HelperListener>(
            context, std::move(UnixSocket::listenOnPath(path, 0666, 64).value()),
            std::move(options));
        listener->startAccepting();
        runner = std::thread([this] { context.run(); });
    }
    ~ListenerHarness() {
        asio::post(context, [this] { listener->stopAccepting(); });
        context.stop();
        runner.join();
    }

    // Connects and reads the greeting; a connection that fails reads as refused.
    WireFraming::Greeting connect(UniqueFd& fd) {
        auto connected = UnixSocket::connectToPath(path);
        if (!connected) {
            return {};
        }
        fd = std::move(*connected);
        timeval timeout{5, 0};
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        WireFraming::FrameReader reader;
        const auto greeting =
            WireFraming::decodeGreeting(testing::nextFrame(fd.get(), reader).value_or(""));
        return greeting ? *greeting : WireFraming::Greeting{};
    }
    // Connects, reads the greeting and asks for the version; true when a reply came.
    bool served(UniqueFd& fd) {
        WireFraming::FrameReader reader;
        return connect(fd).admitted &&
               UnixSocket::sendAll(fd.get(), WireFraming::encodeCall({1, Selector::getVersion, ""}))
                   .ok() &&
               testing::nextFrame(fd.get(), reader).has_value();
    }
};

// The unattested test program, run by root, is admitted with its identity pinned.
TEST(HelperListener, TheCallerIsPinnedAndConnectionsPerUidAreLimitedAndReleasedOnClose) {
    HelperListener::Options options;
    options.limits.perUid = 3;
    std::promise<Caller> seen;
    options.performer = [&](const HelperRequest&, const Caller& caller) {
        seen.set_value(caller);
        return HelperResponse::done();
    };
    ListenerHarness h(std::move(options));
    std::vector<UniqueFd> open(3);
    for (auto& fd : open) {
        EXPECT_TRUE(h.served(fd));
    }
    ASSERT_TRUE(
        UnixSocket::sendAll(open[0].get(),
                            WireFraming::encodeCall({2, Selector::perform, R"({"getVersion":{}})"}))
            .ok());
    auto future = seen.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    const Caller caller = future.get();
    EXPECT_EQ(caller.pid, ::getpid());
    EXPECT_EQ(caller.uid, 0u);
    ASSERT_TRUE(caller.pidfd);
    EXPECT_EQ(pidfdInode(caller.pidfd->get()), pidfdInode(Caller::currentProcess().pidfd->get()));
    UniqueFd fourth;
    EXPECT_EQ(
        h.connect(fourth),
        (WireFraming::Greeting{false, "this account has too many connections to the helper open"}));
    EXPECT_EQ(h.log.count("refused a client (pid "), 1u);
    EXPECT_EQ(h.log.count("accepted a client that satisfies the code-signing requirement"), 3u);
    open[0].reset();
    bool again = false;
    for (int i = 0; i < 50 && !again; ++i) {
        std::this_thread::sleep_for(20ms);
        UniqueFd fd;
        again = h.served(fd);
    }
    EXPECT_TRUE(again);
}

TEST(HelperListener, AnUnparsableRequirementRefusesEveryClient) {
    HelperListener::Options options;
    options.requirement = [] { return std::string("anchor apple generic and"); };
    ListenerHarness h(std::move(options));
    for (int i = 0; i < 2; ++i) {
        UniqueFd fd;
        EXPECT_FALSE(h.served(fd));
    }
    const auto logs = h.log.records();
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(logs[0], (LogRecord{"listener", LogLevel::fault,
                                  "refusing all clients: cannot parse anchor apple generic and"}));
}

}  // namespace
}  // namespace kb
