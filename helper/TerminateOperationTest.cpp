#include "helper/TerminateOperation.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <future>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "helper/testing/CapturedLog.h"
#include "platform/ProcessStartTime.h"
#include "testing/PolkitFixture.h"

namespace kb {
namespace {

using namespace kb::testing;
using Request = HelperRequest::TerminateProcess;

HelperResponse terminate(pid_t pid, std::uint64_t startTime, int signal) {
    return terminateProcess(Request{pid, startTime, signal}, asRoot(), RootFileOpsSettings{});
}

// A root child that waits to be signalled, and its start time.
struct Sleeper : SleepingProcess {
    Sleeper() : SleepingProcess(0, 0) {}
    std::uint64_t startTime = processStartTime(pid()).value_or(0);
};

TEST(TerminateProcess, RefusalsComeInTheOrderOfTheChecks) {
    Sleeper child;
    const auto self = ::getpid();
    const auto selfStart = processStartTime(self).value_or(0);
    const std::tuple<pid_t, std::uint64_t, int, std::string> cases[] = {
        {1, 0, SIGINT, "signal 2 is not one this helper delivers"},
        {child.pid(), child.startTime, -9, "signal -9 is not one this helper delivers"},
        {1, 1, SIGTERM, "refusing to signal pid 1"},
        {0, 1, SIGTERM, "refusing to signal pid 0"},
        {-1, 1, SIGKILL, "refusing to signal pid -1"},
        {-child.pid(), 1, SIGKILL, "refusing to signal pid -" + std::to_string(child.pid())},
        {self, selfStart, SIGTERM, "refusing to signal pid " + std::to_string(self)},
        {child.pid(), child.startTime + 1, SIGKILL,
         "pid " + std::to_string(child.pid()) + " has been reused since it was inspected"},
    };
    CapturedLog log;
    for (const auto& [pid, startTime, signal, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(terminate(pid, startTime, signal), HelperResponse::error(message));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(child.running());
    EXPECT_TRUE(log.records().empty());
}

TEST(TerminateProcess, SignalsTheInspectedProcessButNeverAnEndedOneAZombieOrAThread) {
    for (int signal : {SIGTERM, SIGKILL}) {
        Sleeper child;
        ASSERT_NE(child.startTime, 0u);
        CapturedLog log;
        EXPECT_EQ(terminate(child.pid(), child.startTime, signal), HelperResponse::done());
        const std::string pid = "pid " + std::to_string(child.pid());
        EXPECT_EQ(child.reap(), signal);
        EXPECT_EQ(
            log.records(),
            (std::vector<LogRecord>{{"operations", LogLevel::standard,
                                     "signalled " + pid + " with " + std::to_string(signal)}}));
        ASSERT_EQ(log.audits().size(), 1u);
        const std::string audit = log.audits()[0].message;
        EXPECT_TRUE(audit.starts_with("terminateProcess " + pid)) << audit;
        EXPECT_TRUE(audit.ends_with("[root]")) << audit;  // the authority acted on
    }

    const auto notRunning = [](pid_t pid) {
        return HelperResponse::error("no process " + std::to_string(pid) + " is running");
    };
    // Reaped: the pid is free, or already reused by an unrelated process that must not be the
    // one signalled.
    Sleeper reaped;
    const pid_t pid = reaped.pid();
    ::kill(pid, SIGKILL);
    reaped.reap();
    const auto answer = terminate(pid, reaped.startTime, SIGKILL);
    const std::string reused =
        "pid " + std::to_string(pid) + " has been reused since it was inspected";
    EXPECT_EQ(answer, processStartTime(pid) ? HelperResponse::error(reused) : notRunning(pid));

    // Ended but not yet reaped: a zombie is not running either.
    Sleeper zombie;
    ::kill(zombie.pid(), SIGKILL);
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(zombie.pid()), &info, WEXITED | WNOWAIT);
    EXPECT_EQ(terminate(zombie.pid(), zombie.startTime, SIGTERM), notRunning(zombie.pid()));

    // Nor is a thread of this process.
    std::promise<pid_t> tid;
    std::promise<void> release;
    std::jthread thread([&] {
        tid.set_value(::gettid());
        release.get_future().wait();
    });
    const pid_t id = tid.get_future().get();
    EXPECT_EQ(terminate(id, processStartTime(id).value_or(0), SIGKILL), notRunning(id));
    release.set_value();
}

}  // namespace
}  // namespace kb
