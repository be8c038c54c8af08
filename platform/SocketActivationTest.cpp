#include "platform/SocketActivation.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace kb {
namespace {

enum Taken { noSocket = 10, listeningSocket, refused, leftInEnvironment };

struct Passed {
    const char* what;
    int type;
    int listens;
    const char* pid;  // "self": the process that takes them
    const char* count;
    Taken expected;
};

// What takeListeningSocket makes of `passed`, in a child that holds the socket as fd 3.
int takeInChild(const Passed& passed) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::socket(AF_UNIX, passed.type, 0);
        const sa_family_t unnamed = AF_UNIX;  // bound to a name the kernel picks
        ::bind(fd, reinterpret_cast<const sockaddr*>(&unnamed), sizeof unnamed);
        if (passed.listens != 0) {
            ::listen(fd, 1);
        }
        ::dup2(fd, 3);
        const std::string pid =
            std::string(passed.pid) == "self" ? std::to_string(::getpid()) : passed.pid;
        ::setenv("LISTEN_PID", pid.c_str(), 1);
        ::setenv("LISTEN_FDS", passed.count, 1);
        ::setenv("LISTEN_FDNAMES", "helper", 1);
        const auto taken = SocketActivation::takeListeningSocket();
        if (std::getenv("LISTEN_PID") || std::getenv("LISTEN_FDS") ||
            std::getenv("LISTEN_FDNAMES")) {
            ::_exit(leftInEnvironment);
        }
        if (!taken || !*taken) {
            ::_exit(taken ? noSocket : refused);
        }
        const bool closesOnExec = (::fcntl((*taken)->get(), F_GETFD) & FD_CLOEXEC) != 0;
        ::_exit((*taken)->get() == 3 && closesOnExec ? listeningSocket : refused);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SocketActivation, TakesOnlyOneListeningUnixStreamSocketPassedToThisProcess) {
    const Passed table[] = {
        {"one listening stream socket", SOCK_STREAM, 1, "self", "1", listeningSocket},
        {"sockets for another process", SOCK_STREAM, 1, "1", "1", noSocket},
        {"no sockets", SOCK_STREAM, 1, "self", "0", noSocket},
        {"two sockets", SOCK_STREAM, 1, "self", "2", refused},
        {"an unreadable count", SOCK_STREAM, 1, "self", "1x", refused},
        {"an unreadable process id", SOCK_STREAM, 1, "", "1", refused},
        {"a datagram socket", SOCK_DGRAM, 0, "self", "1", refused},
        {"a stream socket that does not listen", SOCK_STREAM, 0, "self", "1", refused},
    };
    for (const Passed& passed : table) {
        EXPECT_EQ(takeInChild(passed), passed.expected) << passed.what;
    }
}

}  // namespace
}  // namespace kb
