// The connection handler over a real socket pair, with the service's root operations
// replaced by a performer the test controls (the operations have their own tests).
#include "helper/Connection.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio/executor_work_guard.hpp>
#include <atomic>
#include <future>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "HelperProtocol/HelperConstants.h"
#include "helper/testing/CapturedLog.h"
#include "helper/testing/FrameClient.h"
#include "helper/testing/Gate.h"
#include "platform/UnixSocket.h"

namespace kb {
namespace {

using namespace std::chrono_literals;
using WireFraming::Selector;

// A connection over a socket pair, served on a thread of its own until destroyed. Without a
// performer, calls are counted in `served` and answered "done".
struct ConnectionHarness {
    asio::io_context context;
    asio::executor_work_guard<asio::io_context::executor_type> work{context.get_executor()};
    UniqueFd client;
    double now = 100;
    IdleExitTimer timer{[this] { return now; }, [] {}};
    testing::CapturedLog log;
    std::promise<void> closed;
    std::atomic<int> served = 0;

    ~ConnectionHarness() {
        client.reset();
        work.reset();
    }

    // `early` is written before the connection starts, as by a client that does not wait.
    void start(HelperService::Performer performer = {}, Connection::Limits limits = {},
               std::string_view early = {}) {
        if (!performer) {
            performer = [this](const HelperRequest&, const Caller&) {
                ++served;
                return HelperResponse::done();
            };
        }
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        client.reset(fds[1]);
        if (!early.empty()) {
            send(early);
        }
        timeval timeout{10, 0};
        ::setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        Connection::Socket socket(context, asio::local::stream_protocol(), fds[0]);
        Connection::start(std::move(socket),
                          HelperService(Caller::currentProcess(), std::move(performer), timer),
                          std::move(limits), [this] { closed.set_value(); });
        runner = std::jthread([this] { context.run(); });
    }

    // Starts and reads the greeting, as a client must before its first call.
    void startGreeted(HelperService::Performer performer = {}, Connection::Limits limits = {}) {
        start(std::move(performer), std::move(limits));
        EXPECT_EQ(nextBody(), std::string("\x01", 1));
    }

    void send(std::string_view bytes) {
        ASSERT_TRUE(UnixSocket::sendAll(client.get(), bytes).ok());
    }

    std::optional<std::string> nextBody() { return testing::nextFrame(client.get(), reader); }

    std::optional<WireFraming::Reply> receive() {
        const auto body = nextBody();
        return body ? std::optional(WireFraming::decodeReply(*body).value()) : std::nullopt;
    }

    // Calls are counted out once their write completed, which may be just after the client
    // read the reply.
    IdleExitTimer::State settled() {
        for (int i = 0; i < 100 && timer.state().inFlight != 0; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return timer.state();
    }

    WireFraming::FrameReader reader;
    std::jthread runner;  // last, so that it has ended before the rest goes
};

std::string perform(std::uint64_t id, std::string_view request) {
    return WireFraming::encodeCall({id, Selector::perform, std::string(request)});
}

HelperResponse echoPackage(const HelperRequest& r) {
    return HelperResponse::error(std::get<HelperRequest::ForgetReceipt>(r.kind).packageID);
}

std::string receipt(std::string_view id) {
    return std::string(R"({"forgetReceipt":{"packageID":")") + std::string(id) + "\"}}";
}

TEST(Connection, RepliesCarryTheirCallsIdsInCompletionOrder) {
    ConnectionHarness f;
    testing::Gate slow;
    f.startGreeted([&](const HelperRequest& r, const Caller&) {
        if (std::get<HelperRequest::ForgetReceipt>(r.kind).packageID == "slow") {
            slow.pass();
        }
        return echoPackage(r);
    });
    f.send(perform(1, receipt("slow")) + WireFraming::encodeCall({2, Selector::getVersion, ""}) +
           perform(3, receipt("fast")));
    ASSERT_TRUE(slow.waitEntered(1));
    std::map<std::uint64_t, std::string> early;
    for (int i = 0; i < 2; ++i) {
        auto reply = f.receive();
        ASSERT_TRUE(reply);
        early[reply->id] = reply->payload;
    }
    const auto version = WireFraming::encodeVersionReply(2, HelperConstants::buildVersion());
    EXPECT_EQ(early, (std::map<std::uint64_t, std::string>{
                         {2, version.substr(WireFraming::lengthSize + WireFraming::callIdSize)},
                         {3, R"({"error":{"_0":"fast"}})"}}));
    slow.open();
    EXPECT_EQ(f.receive(), (WireFraming::Reply{1, R"({"error":{"_0":"slow"}})"}));
    EXPECT_EQ(f.settled().inFlight, 0);
}

// A violation closes the connection at once, a partial frame after its time-out; calls read
// before either are answered, none after.
TEST(Connection, ViolationsCloseTheConnectionAfterEarlierCallsAreAnswered) {
    const std::string unread = perform(2, R"({"getVersion":{}})");
    const std::tuple<std::string, std::string> cases[] = {
        {std::string("\x04\x00\x00\x01", 4) + unread,
         "closing a connection that sent a frame longer than 64 MiB"},
        {std::string("\x00\x00\x00\x08", 4) + std::string(8, 'i') + unread,
         "closing a connection that sent a frame shorter than its header"},
        {WireFraming::encodeCall({9, Selector::getVersion, ""}).replace(12, 1, "\x07") + unread,
         "closing a connection that sent an unknown selector"},
        {std::string("\x00\x00\x00\x20\x01", 5),
         "closing a connection that left a frame unfinished"},
    };
    for (const auto& [bytes, line] : cases) {
        SCOPED_TRACE(line);
        ConnectionHarness f;
        f.startGreeted({}, Connection::Limits{.partialFrameTimeout = 300ms});
        f.send(perform(1, R"({"getVersion":{}})") + bytes);
        EXPECT_EQ(f.receive(), (WireFraming::Reply{1, R"({"done":{}})"}));
        EXPECT_FALSE(f.receive());
        EXPECT_EQ(f.closed.get_future().wait_for(5s), std::future_status::ready);
        EXPECT_TRUE(f.log.count(line));
    }
}

TEST(Connection, ReadingPausesAtItsLimitsUntilRepliesAreWrittenAndNoCallIsDropped) {
    auto budget = std::make_shared<RequestBudget>(RequestBudget::Sizes{250'000, 1'000'000});
    const std::tuple<const char*, Connection::Limits, std::uint64_t, size_t> cases[] = {
        {"in flight", Connection::Limits{.maximumInFlight = 4}, 20, 3},
        {"budget", Connection::Limits{.budget = budget}, 10, 100'000},
    };
    for (const auto& [limit, limits, count, size] : cases) {
        SCOPED_TRACE(limit);
        ConnectionHarness f;
        testing::Gate gate;
        f.startGreeted(
            [&](const HelperRequest& r, const Caller&) {
                gate.pass();
                return echoPackage(r);
            },
            limits);
        auto package = [size = size](std::uint64_t id) {
            return std::string(size, static_cast<char>('a' + id));
        };
        std::string calls;
        for (std::uint64_t i = 0; i < count; ++i) {
            calls += perform(i, receipt(package(i)));
        }
        std::thread writer([&] { f.send(calls); });
        ASSERT_TRUE(gate.waitEntered(2));  // two jobs of one uid run at a time
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(gate.entered(), 2);
        if (limits.budget) {
            EXPECT_LE(budget->heldBy(0), 250'000u + 65'536u);  // the third frame waits, unread
        } else {
            EXPECT_EQ(f.timer.state().inFlight, 4);
        }
        gate.open();
        std::set<std::uint64_t> ids;
        for (std::uint64_t i = 0; i < count; ++i) {
            auto reply = f.receive();
            ASSERT_TRUE(reply);
            EXPECT_EQ(reply->payload, R"({"error":{"_0":")" + package(reply->id) + R"("}})");
            ids.insert(reply->id);
        }
        writer.join();
        EXPECT_EQ(ids.size(), count);
        EXPECT_EQ(f.settled().inFlight, 0);
    }
    EXPECT_EQ(budget->held(), 0u);
}

TEST(Connection, AClientThatLeavesMidRequestStillCountsItsCallOut) {
    ConnectionHarness f;
    testing::Gate gate;
    f.startGreeted([&](const HelperRequest&, const Caller&) {
        gate.pass();
        return HelperResponse::done();
    });
    f.send(perform(1, R"({"getVersion":{}})"));
    ASSERT_TRUE(gate.waitEntered(1));
    f.client.reset();
    f.now = 200;
    gate.open();
    EXPECT_EQ(f.closed.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_EQ(f.settled(), (IdleExitTimer::State{0, 200}));
}

TEST(Connection, BytesBeforeTheGreetingOrFromAnotherProcessAreNeverServed) {
    const std::string call = perform(1, R"({"getVersion":{}})");
    {
        SCOPED_TRACE("written before the greeting");
        ConnectionHarness f;
        f.start({}, {}, call);
        EXPECT_EQ(f.nextBody(),
                  WireFraming::encodeGreeting(
                      {false, "the program wrote to the helper before the helper's greeting"})
                      .substr(WireFraming::lengthSize));
        EXPECT_FALSE(f.nextBody());
        EXPECT_TRUE(
            f.log.count("closing a connection that sent bytes before the helper's greeting"));
        EXPECT_EQ(f.served, 0);
    }
    {
        SCOPED_TRACE("written by another process");
        ConnectionHarness f;
        f.startGreeted();
        // The child writes a call on the socket it inherited and stays alive while its bytes
        // are read. It holds the helper's end too, so the end of stream comes once it has gone.
        const int fd = f.client.get();
        const pid_t child = ::fork();
        if (child == 0) {
            [[maybe_unused]] const ssize_t sent =
                ::send(fd, call.data(), call.size(), MSG_NOSIGNAL);
            ::pause();
            ::_exit(0);
        }
        EXPECT_EQ(f.closed.get_future().wait_for(5s), std::future_status::ready);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        EXPECT_FALSE(f.receive());  // closed without a reply
        EXPECT_TRUE(f.log.count(
            "closing a connection that sent bytes written by a process other than the admitted "
            "one"));
        EXPECT_EQ(f.served, 0);
    }
}

TEST(Connection, RepliesLeftUnreadCloseTheConnection) {
    ConnectionHarness f;
    f.startGreeted([](const HelperRequest&,
                      const Caller&) { return HelperResponse::error(std::string(1 << 20, 'r')); },
                   Connection::Limits{.replyTimeout = 300ms});
    for (std::uint64_t i = 0; i < 4; ++i) {
        f.send(perform(i, R"({"getVersion":{}})"));
    }
    EXPECT_EQ(f.closed.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(f.log.count("closing a connection whose replies waited 0.3 s to be written"));
    EXPECT_EQ(f.settled().inFlight, 0);
}

}  // namespace
}  // namespace kb
