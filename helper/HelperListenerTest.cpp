// Connection admission with real sockets. The peer is the test process itself, run by root,
// which the production check admits unattested; attested clients are the service tests'.
#include "helper/HelperListener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
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
    // Connects, reads the greeting and performs a request; true when a reply came.
    bool served(UniqueFd& fd) {
        WireFraming::FrameReader reader;
        const auto call = WireFraming::encodeCall({1, Selector::perform, R"({"getVersion":{}})"});
        return connect(fd).admitted && UnixSocket::sendAll(fd.get(), call).ok() &&
               testing::nextFrame(fd.get(), reader).has_value();
    }
};

TEST(HelperListener, TheCallerIsPinnedAndConnectionsPerUidAreLimitedAndReleasedOnClose) {
    HelperListener::Options options;
    options.limits.perUid = 3;
    std::atomic<int> performed = 0;
    options.performer = [&](const HelperRequest&, const Caller& caller) {
        EXPECT_EQ(caller.pid, ::getpid());
        EXPECT_EQ(caller.uid, 0u);
        EXPECT_TRUE(caller.pidfd && pidfdInode(caller.pidfd->get()) ==
                                        pidfdInode(Caller::currentProcess().pidfd->get()));
        ++performed;
        return HelperResponse::done();
    };
    ListenerHarness h(std::move(options));
    std::vector<UniqueFd> open(3);
    for (auto& fd : open) {
        EXPECT_TRUE(h.served(fd));
    }
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
    EXPECT_EQ(performed, 4);
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
