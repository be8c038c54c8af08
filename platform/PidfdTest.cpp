// Real child processes signalled and reaped through pidfds.
#include "platform/Pidfd.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <gtest/gtest.h>

namespace kb {
namespace {

pid_t forkSleeper() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::pause();
        ::_exit(0);
    }
    return pid;
}

TEST(Pidfd, SignalsAndReapsItsProcess) {
    struct Case {
        int signal;
        ChildEnd end;
    };
    for (const Case& c : {Case{SIGTERM, {true, SIGTERM}}, Case{SIGKILL, {true, SIGKILL}}}) {
        const pid_t pid = forkSleeper();
        auto fd = openPidfd(pid);
        ASSERT_TRUE(fd.ok());
        ASSERT_TRUE(signalPidfd(*fd, c.signal).ok());
        const auto end = reapPidfd(*fd);
        ASSERT_TRUE(end.ok());
        EXPECT_EQ(*end, c.end);
    }

    const pid_t exits = ::fork();
    if (exits == 0) {
        ::_exit(42);
    }
    auto fd = openPidfd(exits);
    ASSERT_TRUE(fd.ok());
    const auto end = reapPidfd(*fd);
    ASSERT_TRUE(end.ok());
    EXPECT_EQ(*end, (ChildEnd{false, 42}));
}

TEST(Pidfd, AReapedProcessCanNoLongerBeSignalled) {
    const pid_t pid = forkSleeper();
    auto fd = openPidfd(pid);
    ASSERT_TRUE(fd.ok());
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
    // Even if the pid has been handed out again by now, the pidfd still names the old one.
    const auto sent = signalPidfd(*fd, SIGTERM);
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().code, ESRCH);

    const auto gone = openPidfd(pid);
    if (!gone.ok()) {
        EXPECT_EQ(gone.error().code, ESRCH);
    }
    EXPECT_FALSE(openPidfd(-1).ok());
}

}  // namespace
}  // namespace kb
