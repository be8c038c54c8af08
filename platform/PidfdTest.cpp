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

TEST(Pidfd, SignalsAndReapsItsProcessAndNoOtherOnceItIsGone) {
    for (const int signal : {SIGTERM, SIGKILL}) {
        auto fd = openPidfd(forkSleeper());
        ASSERT_TRUE(fd.ok());
        ASSERT_TRUE(signalPidfd(*fd, signal).ok());
        EXPECT_EQ(reapPidfd(*fd).value(), (ChildEnd{true, signal}));
    }
    const pid_t exits = ::fork();
    if (exits == 0) {
        ::_exit(42);
    }
    auto fd = openPidfd(exits);
    ASSERT_TRUE(fd.ok());
    EXPECT_EQ(reapPidfd(*fd).value(), (ChildEnd{false, 42}));

    const pid_t pid = forkSleeper();
    fd = openPidfd(pid);
    ASSERT_TRUE(fd.ok());
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
    // Even if the pid has been handed out again by now, the pidfd still names the old one.
    EXPECT_EQ(signalPidfd(*fd, SIGTERM).error().code, ESRCH);
    EXPECT_FALSE(openPidfd(-1).ok());
}

}  // namespace
}  // namespace kb
