#include "testing/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>

namespace kb::testing {
namespace {

constexpr std::chrono::seconds childDeadline{300};

}  // namespace

ChildResult runChild(const std::vector<std::string>& argv, const std::string& input) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        return {};
    }
    // Built before fork: the child of a threaded process may only call
    // async-signal-safe functions, and allocating is not one.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    size_t written = 0;
    while (written < input.size()) {
        const ssize_t n = ::write(in[1], input.data() + written, input.size() - written);
        if (n <= 0) {
            break;
        }
        written += static_cast<size_t>(n);
    }
    ::close(in[1]);

    ChildResult result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    const auto deadline = std::chrono::steady_clock::now() + childDeadline;
    bool killed = false;
    while (open > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !killed) {
            // Its output stays open as long as it runs: end it, and say so.
            ::kill(pid, SIGKILL);
            killed = true;
            result.err +=
                "\n(killed: still running after " + std::to_string(childDeadline.count()) + " s)\n";
        }
        const int ready = ::poll(
            fds, 2, killed ? 1000 : static_cast<int>(std::min<long long>(left.count(), 1000)));
        if ((ready < 0 && errno != EINTR) || (ready == 0 && killed)) {
            break;  // a descendant may hold the pipes open; the child itself is gone
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buffer[65536];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    sinks[i]->append(buffer, static_cast<size_t>(n));
                } else {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd >= 0) {
            ::close(fds[i].fd);
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace kb::testing
