#include "helper/Logger.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "helper/WorkerPool.h"
#include "platform/UniqueFd.h"
#include "testing/ChildProcess.h"

namespace kb {
namespace {

TEST(Logger, CategoriesAndLevelsReachTheSink) {
    std::vector<LogRecord> lines;
    std::mutex mutex;
    setLogSink([&](const LogRecord& r) {
        std::lock_guard lock(mutex);
        lines.push_back(r);
    });
    listenerLogger().error("peer refused");
    serviceLogger().notice("listening on x");
    operationsLogger().fault("staging replaced");
    setLogSink({});
    EXPECT_EQ(lines, (std::vector<LogRecord>{{"listener", LogLevel::error, "peer refused"},
                                             {"service", LogLevel::standard, "listening on x"},
                                             {"operations", LogLevel::fault, "staging replaced"}}));
}

// Stands in for journald by binding its socket (only when no journal runs here) and reads
// the native-protocol datagram that a log line produces.
TEST(Logger, WritesTheIdentityFieldsToTheJournalSocket) {
    const std::string dir = "/run/systemd/journal";
    const std::string path = dir + "/socket";
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        GTEST_SKIP() << "a real journal runs here; its contents are not ours to read";
    }
    const bool madeDir = !std::filesystem::exists(dir);
    std::filesystem::create_directories(dir);
    UniqueFd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(sock);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    serviceLogger().error("idle for 60.000000s; exiting");

    char buffer[4096];
    timeval timeout{5, 0};
    ::setsockopt(sock.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const ssize_t n = ::recv(sock.get(), buffer, sizeof buffer, 0);
    ::unlink(path.c_str());
    if (madeDir) {
        std::filesystem::remove_all("/run/systemd/journal");
    }
    ASSERT_GT(n, 0);
    const std::string datagram(buffer, static_cast<size_t>(n));
    EXPECT_NE(datagram.find("MESSAGE=idle for 60.000000s; exiting\n"), std::string::npos);
    EXPECT_NE(datagram.find("PRIORITY=3\n"), std::string::npos);
    EXPECT_NE(datagram.find("SYSLOG_IDENTIFIER=dev.kestrelbay.helper\n"), std::string::npos);
    EXPECT_NE(datagram.find("KESTRELBAY_SUBSYSTEM=dev.kestrelbay\n"), std::string::npos);
    EXPECT_NE(datagram.find("KESTRELBAY_CATEGORY=service\n"), std::string::npos);
}

TEST(WorkerPool, JobsRunOffTheCallingThread) {
    std::binary_semaphore done(0);
    std::thread::id ran;
    WorkerPool::run([&] {
        ran = std::this_thread::get_id();
        done.release();
    });
    done.acquire();
    EXPECT_NE(ran, std::this_thread::get_id());
}

}  // namespace
}  // namespace kb
