#include "platform/ProcessStartTime.h"

#include <sys/wait.h>

#include <csignal>
#include <ctime>

#include <gtest/gtest.h>

#include "testing/PolkitFixture.h"

namespace kb {
namespace {

// Fields 3..21 of a stat record, then field 22 (start), then a few more.
std::string statRecord(const std::string& comm, const std::string& state,
                       const std::string& start) {
    std::string text = "1234 (" + comm + ") " + state;
    for (int field = 4; field < 22; ++field) {
        text += " " + std::to_string(field);
    }
    return text + " " + start + " 23 24 25\n";
}

TEST(ProcessStartTime, ParsesTheStartFieldAfterTheLastParenthesisAndTheBootTimeLine) {
    const std::pair<std::string, std::optional<std::uint64_t>> cases[] = {
        {statRecord("bash", "S", "98765"), 98765},
        {statRecord("a) (b 1 2 3", "R", "5"), 5},
        {statRecord(") ) )", "D", "0"), 0},
        {statRecord("gone", "Z", "98765"), std::nullopt},
        {statRecord("gone", "X", "98765"), std::nullopt},
        {statRecord("bad", "S", "12x"), std::nullopt},
        {statRecord("bad", "S", "-1"), std::nullopt},
        {"1234 (short) S 1 2 3\n", std::nullopt},
        {"no parenthesis at all", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, ticks] : cases) {
        EXPECT_EQ(startTicksFromStat(text), ticks) << text;
    }
    EXPECT_EQ(bootTimeFromSystemStat("cpu  1 2 3\nintr 5\nbtime 1700000000\nprocesses 9\n"),
              1700000000u);
    EXPECT_EQ(bootTimeFromSystemStat("cpu 1\nbtime 42"), 42u);
    EXPECT_EQ(bootTimeFromSystemStat("cpu 1\nxbtime 42\n"), std::nullopt);
    EXPECT_EQ(bootTimeFromSystemStat("btime\n"), std::nullopt);
    EXPECT_EQ(bootTimeFromSystemStat(""), std::nullopt);
}

TEST(ProcessStartTime, LivingProcessesHaveOneAndEndedOnesNone) {
    const auto before = static_cast<std::uint64_t>(std::time(nullptr));
    testing::SleepingProcess child(0, 0);
    const pid_t pid = child.pid();
    const auto start = processStartTime(pid);
    ASSERT_TRUE(start.has_value());
    // The boot time is whole seconds, so allow one second either way.
    EXPECT_GE(*start + 1, before);
    EXPECT_LE(*start, static_cast<std::uint64_t>(std::time(nullptr)) + 1);
    EXPECT_EQ(processStartTime(pid), start);  // stable across reads
    EXPECT_LE(processStartTime(1).value_or(~0ull), *start);

    ::kill(pid, SIGKILL);
    // Dead but not reaped yet: a zombie is not a running process.
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    EXPECT_EQ(processStartTime(pid), std::nullopt);
    child.reap();
    for (pid_t gone : {pid, 0, -1}) {
        EXPECT_EQ(processStartTime(gone), std::nullopt);
    }
}

}  // namespace
}  // namespace kb
