// The connection handler over a real socket pair, with the service's root operations
// replaced by a performer the test controls (the operations have their own tests).
#include "helper/Connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <asio/executor_work_guard.hpp>
#include <condition_variable>
#include <future>
#include <set>
#include <thread>

#include "HelperProtocol/HelperConstants.h"
#include "helper/Logger.h"
#include "platform/UnixSocket.h"

namespace kb {
namespace {

using namespace std::chrono_literals;
using WireFraming::Call;
using WireFraming::Selector;

struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    int entered = 0;
    void pass() {
        std::unique_lock guard(lock);
        ++entered;
        changed.notify_all();
        changed.wait(guard, [&] { return open; });
    }
    void release() {
        std::lock_guard guard(lock);
        open = true;
        changed.notify_all();
    }
    bool waitEntered(int count) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, 5s, [&] { return entered >= count; });
    }
};

class ConnectionTest : public ::testing::Test {
  public:
    asio::io_context context;
    asio::executor_work_guard<asio::io_context::executor_type> work{context.get_executor()};
    std::thread runner;
    UniqueFd client;
    double now = 100;
    IdleExitTimer timer{[this] { return now; }, [] {}};
    std::mutex logLock;
    std::vector<LogRecord> logs;
    std::promise<void> closed;

    void SetUp() override {
        setLogSink([this](const LogRecord& r) {
            std::lock_guard guard(logLock);
            logs.push_back(r);
        });
    }
    void TearDown() override {
        client.reset();
        work.reset();
        if (runner.joinable()) {
            runner.join();
        }
        setLogSink({});
    }

    void start(HelperService::Performer performer, Connection::Limits limits = {}) {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        client.reset(fds[1]);
        timeval timeout{10, 0};
        ::setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        Connection::Socket socket(context, asio::local::stream_protocol(), fds[0]);
        Connection::start(std::move(socket), HelperService(Caller{}, std::move(performer), timer),
                          limits, [this] { closed.set_value(); });
        runner = std::thread([this] { context.run(); });
    }

    void send(std::string_view bytes) {
        ASSERT_TRUE(UnixSocket::sendAll(client.get(), bytes).ok());
    }

    // The next reply, or nullopt at the end of the stream.
    std::optional<WireFraming::Reply> receive() {
        WireFraming::FrameReader& reader = reader_;
        for (;;) {
            auto body = reader.next();
            if (!body.ok()) {
                ADD_FAILURE() << "bad frame from the helper";
                return std::nullopt;
            }
            if (body->has_value()) {
                return WireFraming::decodeReply(**body).value();
            }
            char buffer[65536];
            const ssize_t n = ::recv(client.get(), buffer, sizeof buffer, 0);
            if (n <= 0) {
                return std::nullopt;
            }
            reader.append(buffer, static_cast<size_t>(n));
        }
    }

    bool logged(const std::string& message) {
        std::lock_guard guard(logLock);
        for (const auto& r : logs) {
            if (r.message == message) {
                return true;
            }
        }
        return false;
    }

  private:
    WireFraming::FrameReader reader_;
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

TEST_F(ConnectionTest, RepliesCarryTheirCallsIdsInCompletionOrder) {
    Gate slow;
    start([&](const HelperRequest& r, const Caller&) {
        if (std::get<HelperRequest::ForgetReceipt>(r.kind).packageID == "slow") {
            slow.pass();
        }
        return echoPackage(r);
    });
    send(perform(1, receipt("slow")) + WireFraming::encodeCall({2, Selector::getVersion, ""}) +
         perform(3, receipt("fast")));
    ASSERT_TRUE(slow.waitEntered(1));
    std::set<std::uint64_t> early;
    for (int i = 0; i < 2; ++i) {
        auto reply = receive();
        ASSERT_TRUE(reply);
        early.insert(reply->id);
        if (reply->id == 2) {
            EXPECT_EQ(WireFraming::decodeVersion(reply->payload).value(),
                      HelperConstants::buildVersion());
        } else {
            EXPECT_EQ(reply->payload, R"({"error":{"_0":"fast"}})");
        }
    }
    EXPECT_EQ(early, (std::set<std::uint64_t>{2, 3}));
    slow.release();
    auto last = receive();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->id, 1u);
    EXPECT_EQ(last->payload, R"({"error":{"_0":"slow"}})");
    // Counted out once the write completed, which may be just after the client read it.
    for (int i = 0; i < 100 && timer.state().inFlight != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(timer.state().inFlight, 0);
}

TEST(ConnectionViolations, CloseTheConnectionAfterEarlierCallsAreAnswered) {
    struct Case {
        std::string bytes;
        std::string log;
    };
    const Case cases[] = {
        {std::string("\x04\x00\x00\x01", 4),
         "closing a connection that sent a frame longer than 64 MiB"},
        {std::string("\x00\x00\x00\x08", 4) + std::string(8, 'i'),
         "closing a connection that sent a frame shorter than its header"},
        {std::string("\x00\x00\x00\x00", 4),
         "closing a connection that sent a frame shorter than its header"},
        {WireFraming::encodeCall({9, Selector::getVersion, ""}).replace(12, 1, "\x07"),
         "closing a connection that sent an unknown selector"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.log);
        struct Fixture : ConnectionTest {
            void TestBody() override {}
        } f;
        f.SetUp();
        f.start([](const HelperRequest&, const Caller&) { return HelperResponse::done(); });
        f.send(perform(1, R"({"getVersion":{}})") + c.bytes + perform(2, R"({"getVersion":{}})"));
        auto reply = f.receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->id, 1u);
        EXPECT_EQ(reply->payload, R"({"done":{}})");
        EXPECT_FALSE(f.receive());  // closed; call 2 was never read
        EXPECT_EQ(f.closed.get_future().wait_for(5s), std::future_status::ready);
        EXPECT_TRUE(f.logged(c.log));
        f.TearDown();
    }
}

TEST_F(ConnectionTest, ReadingPausesAtTheInFlightLimitWithoutDroppingCalls) {
    Gate gate;
    start(
        [&](const HelperRequest& r, const Caller&) {
            gate.pass();
            return echoPackage(r);
        },
        Connection::Limits{4, 30s});
    std::string calls;
    for (int i = 0; i < 20; ++i) {
        calls += perform(static_cast<std::uint64_t>(i), receipt("p" + std::to_string(i)));
    }
    send(calls);
    ASSERT_TRUE(gate.waitEntered(4));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(timer.state().inFlight, 4);
    gate.release();
    std::set<std::uint64_t> ids;
    for (int i = 0; i < 20; ++i) {
        auto reply = receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->payload, R"({"error":{"_0":"p)" + std::to_string(reply->id) + "\"}}");
        ids.insert(reply->id);
    }
    EXPECT_EQ(ids.size(), 20u);
    EXPECT_EQ(gate.entered, 20);
}

TEST_F(ConnectionTest, APartialFrameFollowedBySilenceIsClosed) {
    start([](const HelperRequest&, const Caller&) { return HelperResponse::done(); },
          Connection::Limits{64, 300ms});
    send(perform(1, R"({"getVersion":{}})") + std::string("\x00\x00\x00\x20\x01", 5));
    auto reply = receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->id, 1u);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(receive());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_TRUE(logged("closing a connection that left a frame unfinished"));
}

TEST_F(ConnectionTest, AClientThatLeavesMidRequestStillCountsItsCallOut) {
    Gate gate;
    start([&](const HelperRequest&, const Caller&) {
        gate.pass();
        return HelperResponse::done();
    });
    send(perform(1, R"({"getVersion":{}})"));
    ASSERT_TRUE(gate.waitEntered(1));
    client.reset();
    now = 200;
    gate.release();
    EXPECT_EQ(closed.get_future().wait_for(5s), std::future_status::ready);
    for (int i = 0; i < 100 && timer.state().inFlight != 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(timer.state(), (IdleExitTimer::State{0, 200}));
}

}  // namespace
}  // namespace kb
